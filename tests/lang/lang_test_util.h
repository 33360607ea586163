#pragma once
// Helpers shared by the string-table tests.

#include "ULanguage.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <map>

inline void write_file(const QString& Path, const QByteArray& Data) {
    QFile f(Path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << Path.toStdString();
    ASSERT_EQ(f.write(Data), Data.size());
}

inline QByteArray read_file(const QString& Path) {
    QFile f(Path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

inline QStringList builtin_table() {
    Load_Default_Strings();
    return Lang_Strings;
}

// The built-in table with the given entries replaced.
inline QStringList builtin_with(const std::map<int, QString>& Changes) {
    QStringList t = builtin_table();
    for (const auto& [entry, text] : Changes)
        t[entry] = text;
    return t;
}

// gtest prints QStrings as UTF-8 with this.
inline void PrintTo(const QString& S, std::ostream* Os) {
    *Os << '"' << S.toStdString() << '"';
}
