// The Gregorian calendar as the engine needs it: the time code carries only
// a time of day, so the engine moves a clock record's date by a day when the
// code lies on the other side of midnight, and must know which records name
// a moment that exists.
#pragma once

#include "platform/clock.h"

// Days in a month; 31 for a month outside 1-12.
unsigned DaysInMonth(unsigned year, unsigned month);

// True when every field of the record names a real moment: a month of 1-12, a
// day that exists in that month and year, hours 0-23, minutes and seconds 0-59,
// milliseconds 0-999, a year of 1601-30827. wDayOfWeek is not looked at.
bool IsValidSystemTime(const platform::SYSTEMTIME& time);

// The same time of day one day later or earlier, weekday included.
void NextDay(platform::SYSTEMTIME& time);
void PreviousDay(platform::SYSTEMTIME& time);
