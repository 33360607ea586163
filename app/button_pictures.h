#pragma once
// The button pictures: drawings of our own, kept as SVG files among the program's resources.

#include <QIcon>
#include <QString>

// The picture called Name ("connect", "info", ...) at Size x Size pixels, sharp on high-density
// screens too. An unknown name gives an empty icon.
QIcon Button_Picture(const QString& Name, int Size);
