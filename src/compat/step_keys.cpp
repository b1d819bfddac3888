// Time keys: see step_keys.hpp. All arithmetic is on seconds in 64 bits,
// every product and sum checked; a step that cannot be formed leaves its
// keys out rather than wrapping.
#include "compat/step_keys.hpp"

#include <charconv>
#include <cstdlib>

namespace vorlak {
namespace {

std::optional<std::int64_t> times(std::int64_t a, std::int64_t b) {
  std::int64_t out = 0;
  if (__builtin_mul_overflow(a, b, &out)) return std::nullopt;
  return out;
}

void set_validity(StepKeys& out, std::optional<std::int64_t> reference, std::optional<std::int64_t> offset) {
  if (!reference || !offset) return;
  if (const auto instant = add_seconds(*reference, *offset)) out.validity = date_time_keys(*instant);
}

// GRIB1 time range indicator (octet 21) with P1 and P2 (octets 19, 20):
// 0, 1 and 10 (and the rest) instant at P1; 2 a range P1-P2; 3 average,
// 4 accumulation, 5 difference over P1-P2, valid at P2.
void grib1_steps(const MessageRecord& r, const std::optional<StepUnit>& unit, std::optional<std::int64_t> reference,
                 StepKeys& out) {
  const std::int64_t per_unit = unit ? unit->per_unit : 1;
  const std::int64_t p1 = *r.forecastTime * per_unit;
  std::int64_t end = p1;
  switch (r.timeRangeIndicator.value_or(0)) {
    case 2: end = std::int64_t{r.P2.value_or(0)} * per_unit; break;
    case 3: out.type = "avg"; end = std::int64_t{r.P2.value_or(0)} * per_unit; break;
    case 4: out.type = "accum"; end = std::int64_t{r.P2.value_or(0)} * per_unit; break;
    case 5: out.type = "diff"; end = std::int64_t{r.P2.value_or(0)} * per_unit; break;
    default: break;
  }
  out.start = p1;
  out.end = end;
  if (unit) set_validity(out, reference, times(end, unit->seconds));
}

// The coarsest of the candidate units in which both steps are whole: the
// forecast time's, the range's when it is finer, minutes, seconds.
std::optional<std::int64_t> common_unit(std::int64_t start_s, std::int64_t end_s, StepUnit step, StepUnit range) {
  std::int64_t candidates[4] = {step.code, -1, 0, 13};
  if (range.seconds < step.seconds) candidates[1] = range.code;
  for (const std::int64_t code : candidates) {
    if (code < 0) continue;
    const std::int64_t seconds = seconds_per_step_unit(code);
    if (seconds > 0 && start_s % seconds == 0 && end_s % seconds == 0) return code;
  }
  return std::nullopt;
}

// A statistically processed GRIB2 product: startStep the forecast time,
// endStep the start plus the outermost range's length; where the template
// states the end of the overall interval, endStep is that end minus the
// reference time and startStep is endStep minus the range's magnitude (the
// stated end wins over the forecast time: CMC's 24-hour analysis has
// forecast time 24 h and length -24 h, and ends at the reference time).
void statistical_steps(std::int64_t forecast, std::optional<std::uint8_t> indicator,
                       const std::optional<StepUnit>& unit, const TimeRange& range,
                       std::optional<std::int64_t> reference, StepKeys& out) {
  out.type = statistical_step_type(range.process);
  out.start = out.end = forecast;
  if (!range.length) {
    if (unit) set_validity(out, reference, times(forecast, unit->seconds));
    return;
  }
  const std::int64_t length = *range.length;
  const std::optional<StepUnit> range_unit = range.unit ? step_unit(Edition::Two, *range.unit) : std::nullopt;
  if (!unit || !range_unit) {
    // Units without a length in time (months, years): the length adds up
    // only when it is counted in the forecast time's unit.
    if (indicator && range.unit == indicator) {
      if (const auto end = add_seconds(forecast, length)) out.end = *end;
    }
    return;
  }
  // Plain values from here on (both units are known).
  const StepUnit step = unit.value_or(StepUnit{1, 3600, 1});
  const StepUnit per_range = range_unit.value_or(StepUnit{1, 3600, 1});
  const auto forecast_s = times(forecast, step.seconds);
  const auto length_s = times(length, per_range.seconds);
  if (!forecast_s || !length_s) return;
  std::optional<std::int64_t> stated_end;
  if (range.end && reference) stated_end = instant_seconds(*range.end);
  std::int64_t start_s = *forecast_s;
  std::int64_t end_s = 0;
  if (stated_end) {
    end_s = *stated_end - *reference;
    start_s = end_s - (*length_s < 0 ? -*length_s : *length_s);
  } else {
    const auto end = add_seconds(*forecast_s, *length_s);
    if (!end) return;
    end_s = *end;
  }
  const auto code = common_unit(start_s, end_s, step, per_range);
  if (!code) return;
  const std::int64_t seconds = seconds_per_step_unit(*code);
  out.units = *code;
  out.start = start_s / seconds;
  out.end = end_s / seconds;
  if (stated_end) {
    out.validity = date_time_keys(*stated_end);
  } else {
    set_validity(out, reference, end_s);
  }
}

}  // namespace

std::string_view statistical_step_type(std::optional<std::uint8_t> process) {
  if (!process) return "unknown";
  switch (*process) {
    case 0: return "avg";
    case 1: return "accum";
    case 2: return "max";
    case 3: return "min";
    case 4: return "diff";
    case 5: return "rms";
    case 6: return "sd";
    case 7: return "cov";
    case 9: return "ratio";
    case 11: return "sum";
    default: return "unknown";
  }
}

std::string_view step_range_text(std::int64_t start, std::int64_t end, char (&buffer)[48]) {
  char* p = buffer;
  char* const last = buffer + sizeof buffer;
  if (start != end) {
    p = std::to_chars(p, last, start).ptr;
    *p++ = '-';
  }
  p = std::to_chars(p, last, end).ptr;
  return {buffer, static_cast<std::size_t>(p - buffer)};
}

StepKeys step_keys(const MessageRecord& r, const std::optional<TimeRange>& range) {
  StepKeys out;
  std::optional<std::int64_t> reference;
  if (r.reference_time) reference = instant_seconds(*r.reference_time);
  if (reference) out.data = date_time_keys(*reference);
  if (!out.data) reference.reset();

  const std::optional<StepUnit> unit =
      r.indicatorOfUnitOfTimeRange ? step_unit(r.edition, *r.indicatorOfUnitOfTimeRange) : std::nullopt;
  if (unit) out.units = unit->code;
  if (!r.forecastTime) return out;

  if (r.edition == Edition::One) {
    grib1_steps(r, unit, reference, out);
  } else if (range) {
    statistical_steps(*r.forecastTime, r.indicatorOfUnitOfTimeRange, unit, *range, reference, out);
  } else {
    out.start = out.end = *r.forecastTime;
    if (unit) set_validity(out, reference, times(*r.forecastTime, unit->seconds));
  }
  return out;
}

}  // namespace vorlak
