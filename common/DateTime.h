#pragma once

#include "common/Types.h"

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace raduvuz {

TDateTime Now();
TDateTime DateTimeFromTm(const std::tm& local, int milliseconds = 0);
std::tm TmFromDateTime(TDateTime value);
// The C library locale's short date (%x) and long time (%X) forms.
std::string ShortDateText(TDateTime value);
std::string LongTimeText(TDateTime value);
// The conversions %x stands for in the C library locale: "%d.%m.%Y" in de_DE, "%m/%d/%Y" in en_US.
std::string ShortDateFormat();
// "date time" as the log writes it.
std::string DateTimeText(TDateTime value);
// Reads "date time" (or a date alone) written in the forms above.
std::optional<TDateTime> ParseDateTime(std::string_view text);
std::optional<TDateTime> ParseShortDate(std::string_view text);

} // namespace raduvuz
