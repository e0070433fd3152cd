#pragma once

#include <QByteArray>
#include <QDateTime>

// A test failure unless time is "yyyy-MM-dd hh:mm:ss" and lies between before and after.
void check_time_stamp(const QByteArray& time, const QDateTime& before, const QDateTime& after);

// Now, to the second, as a time stamp taken now can be no earlier.
QDateTime now_to_the_second();
