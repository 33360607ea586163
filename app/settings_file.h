#pragma once
// The settings file Tessaro.xml: five values kept from one run to the next in the program-wide
// state (UComon). The document read at start is kept and reused by every save.

#include <QDomDocument>
#include <QString>

class TSettings_File {
public:
    enum class TLoad { Missing, Read, Unparsable };

    // Fills the five settings values from File. A missing or unparsable file gives the
    // missing-file values; for an unparsable one Error says why.
    TLoad Load(const QString& File, QString& Error);
    // Writes the whole file from the five values, atomically. False with Error when it could not.
    bool Save(const QString& File, QString& Error);

    // Renames a broken file to a free name ending in ".bad" beside it, so no later save
    // overwrites it. Returns the new path, or empty when the rename failed.
    static QString Set_Aside(const QString& File);

private:
    QDomDocument XML1;
};
