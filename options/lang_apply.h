#pragma once
// Puts a window's share of the string table on its controls, found by their object names.

#include "lang_entries.h"

#include <span>

class QWidget;

void Apply_Lang_Targets(QWidget& Window, std::span<const TLang_Target> Targets);
