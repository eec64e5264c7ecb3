// Date-times as the macro commands write and read them: the user's regional
// short date format (with a four-digit year) and long time format, taken
// from the default QLocale. Values are day numbers since 1899-12-30.
#pragma once

#include <QString>

// "08.12.2026 09:15:00" (German), "12/8/2026 9:15:00 AM" (US).
QString MacroDateTimeText(double dateTime);

// Reads a date with an optional time in the regional order: the year may be
// left out (the year of `today`) or given with two digits (the century
// nearest `today`); the time is hours and minutes with optional seconds and
// AM/PM. False for anything else, and for a date that names no real day
// (31.02.) or a time that does not exist: nothing is ever shifted.
bool ReadMacroDateTime(const QString& text, double today, double* dateTime);
