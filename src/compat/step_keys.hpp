#pragma once
// The time keys of a field: reference date and time, the step (start, end,
// units, type) and the validity date and time, from the codes of its
// record and, for statistically processed products, the outermost time
// range and the stated end of the overall interval.
#include <cstdint>
#include <optional>
#include <string_view>

#include "compat/calendar.hpp"
#include "grib/message_record.hpp"

namespace vorlak {

// The outermost (or only) time range of a statistically processed GRIB2
// product, and the end of its overall interval as the template states it.
struct TimeRange {
  std::optional<std::uint8_t> process;      // typeOfStatisticalProcessing (code table 4.10)
  std::optional<std::uint8_t> unit;         // indicatorOfUnitForTimeRange
  std::optional<std::int64_t> length;       // lengthOfTimeRange
  std::optional<ReferenceTime> end;         // year ... second of end of overall time interval
};

struct StepKeys {
  std::optional<DateTimeKeys> data;      // dataDate, dataTime
  std::optional<DateTimeKeys> validity;  // validityDate, validityTime
  std::optional<std::int64_t> units;     // stepUnits
  std::optional<std::int64_t> start;     // startStep
  std::optional<std::int64_t> end;       // endStep
  std::string_view type = "instant";     // stepType
};

// `range` is set for statistically processed products (a template with a
// time range of statistical processing). GRIB1 records carry their time range
// indicator, P1 and P2.
StepKeys step_keys(const MessageRecord& record, const std::optional<TimeRange>& range);

// "end", or "start-end" when they differ ("-7-16", "-24-0").
std::string_view step_range_text(std::int64_t start, std::int64_t end, char (&buffer)[48]);

// stepType of a code of table 4.10.
std::string_view statistical_step_type(std::optional<std::uint8_t> process);

}  // namespace vorlak
