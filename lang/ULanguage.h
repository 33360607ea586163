#pragma once
// The table of interface texts. It holds built-in English texts, overwritten entry by entry from
// a language file ("<language>.lng" in the language folder). Code that shows a text reads its
// entry at that moment and never keeps a copy, so a language switch reaches every later text.
// Interface thread only.

#include "lang_entries.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>

extern QStringList Lang_Strings;
// Number of valid entries; the upper bound for entry numbers in a language file.
extern std::int32_t Lang_Count;

// Empties the table and fills it with the built-in English texts.
void Load_Default_Strings();
// Replaces the entries that FileName names. A file that cannot be read changes nothing.
void Load_Lang_File(const QString& FileName);
// Built-in texts, then "<Language_Name>.lng" from Path_Language. When that file is missing,
// Language_Name becomes "English" and "English.lng" is loaded if it exists.
void Load_Language(const QString& Path_Language, QString& Language_Name);

// Texts put together from several entries.
QString Lang_Page_Text(std::int32_t Page, std::int32_t Page_Count);
QString Lang_Selected_Text(const QString& Language);
QString Lang_Confirm_Text(const QString& From_Language, const QString& To_Language);

// Takes away blanks and control characters (codes 32 and below) at both ends, and nothing else:
// unlike QString::trimmed, a no-break space stays.
QString Trim_Low(const QString& S);

// The pieces of the reader, for checking language files line by line.
// Decodes a language file's bytes (byte-order mark, else UTF-8 when valid, else Windows-1252)
// and splits them at CR LF, lone CR and lone LF.
QStringList Lang_File_Lines(const QByteArray& Data);
// True when Line sets an entry below Count; Entry and Text then hold what it sets.
bool Parse_Lang_Line(const QString& Line, std::int32_t Count, std::int32_t& Entry, QString& Text);
