#pragma once
// Program-wide state: the working folders, the title texts, the product constants and the
// settings values. Everything here lives for the whole run and is used on the interface thread
// only.

#include <QString>

#include <cstdint>

// ---- product constants ----
inline const QString SW_Code_Const = QStringLiteral("SW40815");
// The software name the update check sends; the same value as the code, kept apart on purpose.
inline const QString SW_Update_Code = QStringLiteral("SW40815");
inline const QString SW_Desc_Const = QStringLiteral("M-Bus / RS232 - Converter");
// The local version; the update check compares the server's answer with it.
inline const QString SW_Version = QStringLiteral("1.000");
// Protection_Code, the converter's accepted protection word, lives with the memory map (device/).
// The carried IP address when the settings name none.
inline const QString Default_IPAddress = QStringLiteral("192.168.1.100");

// ---- working folders (no trailing separator) ----
extern QString Path_Exe;
extern QString Path_Master;
extern QString Path_Projects;
extern QString Path_Language;

// ---- title texts ----
extern QString SW_Title;
extern QString SW_Code;
extern QString SW_Desc;

// ---- settings values ----
extern QString Last_Project;
extern QString Last_IPAddress;
extern QString Language_Name;
extern std::uint8_t Enable_Internet;
extern std::uint8_t Enable_Update;
