// Opening a FieldFile, the positions of its fields and their keys. The
// decoding side is in field_decode.cpp.
#include "core/field_file.hpp"

#include <algorithm>
#include <cstring>

#include "compat/grid_keys.hpp"
#include "core/file_read.hpp"
#include "core/grid_geometry.hpp"
#include "core/handle_record.hpp"
#include "core/key_lookup.hpp"
#include "grib/grib1_predefined.hpp"
#include "grib/grib2_sections.hpp"
#include "grib/message_record.hpp"

namespace vorlak {

FieldFile::FieldFile(SharedBytes bytes, ScanResult scan) : bytes_(std::move(bytes)), scan_(std::move(scan)) {
  fields_.reserve(scan_.fields.size() + scan_.records.size());
  for (std::size_t r = 0; r < scan_.records.size(); ++r) add_fields(r);
  scanned_records_ = scan_.records.size();
  add_cut_message();
  described_ = std::make_unique<std::atomic<const Described*>[]>(fields_.size());
  codes_keys_ = std::make_unique<std::atomic<const DerivedKeys*>[]>(fields_.size());
  all_keys_ = std::make_unique<std::atomic<const DerivedKeys*>[]>(fields_.size());
}

// One entry per field the scan found in the message (one for a message
// without a data section: reading it says what is missing).
void FieldFile::add_fields(std::size_t r) {
  const MessageRecord& record = scan_.records[r];
  const Bytes message = message_of_record(r);
  Entry entry;
  entry.position.message_number = record.messageNumber;
  entry.position.message_offset = record.offset;
  entry.position.message_length = record.totalLength;
  entry.record = r;
  const std::size_t count = record.field_count;
  const bool in_range = record.first_field <= scan_.fields.size() && count <= scan_.fields.size() - record.first_field;
  if (count == 0 || !in_range) {
    entry.spans = record.spans;
    entry.error = field_error(message, entry.spans);
    fields_.push_back(std::move(entry));
    return;
  }
  entry.position.fields_in_message = static_cast<std::uint32_t>(count);
  for (std::size_t k = 0; k < count; ++k) {
    entry.position.index_in_message = static_cast<std::uint32_t>(k);
    entry.spans = scan_.fields[record.first_field + k];
    entry.error = field_error(message, entry.spans);
    fields_.push_back(entry);
  }
}

// The first edition 2 message after the last one scanned that claims more
// bytes than there are: its fields up to the cut, when any is complete.
void FieldFile::add_cut_message() {
  const Bytes all = bytes_->span();
  std::uint64_t from = 0;
  if (!scan_.records.empty()) from = scan_.records.back().offset + scan_.records.back().totalLength;
  for (std::uint64_t at = from; all.size() >= 16 && at <= all.size() - 16; ++at) {
    if (std::memcmp(all.data() + at, "GRIB", 4) != 0 || all[at + 7] != 2) continue;
    const std::uint64_t stated = read_u64_be(all.data() + at + 8);
    if (stated <= all.size() - at) continue;  // not cut: the scan refused it for a reason of its own
    CutFields cut = walk_cut_fields(all.subspan(at));
    if (cut.complete() == 0) return;
    MessageRecord record;
    record.edition = Edition::Two;
    record.messageNumber = scan_.records.size() + 1;
    record.offset = at;
    record.totalLength = all.size() - at;  // the bytes there are
    record.discipline = all[at + 6];
    record.spans = cut.fields[cut.complete() - 1];
    scan_.records.push_back(record);
    const Bytes message = all.subspan(at);
    Entry entry;
    entry.position.message_number = record.messageNumber;
    entry.position.message_offset = record.offset;
    entry.position.message_length = record.totalLength;
    entry.position.fields_in_message = static_cast<std::uint32_t>(cut.fields.size());
    entry.record = scan_.records.size() - 1;
    for (std::size_t k = 0; k < cut.fields.size(); ++k) {
      entry.position.index_in_message = static_cast<std::uint32_t>(k);
      entry.spans = cut.fields[k];
      entry.error = k < cut.complete() ? field_error(message, entry.spans) : cut.cut;
      fields_.push_back(entry);
    }
    return;
  }
}

FieldFile::~FieldFile() {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    delete described_[i].load(std::memory_order_relaxed);
    delete codes_keys_[i].load(std::memory_order_relaxed);
    delete all_keys_[i].load(std::memory_order_relaxed);
  }
}

Expected<SharedFieldFile, FieldFileError> FieldFile::open(const std::string& path) {
  int os_error = 0;
  auto bytes = read_whole_file(path, &os_error);
  if (!bytes) return std::unexpected(FieldFileError{std::move(bytes.error()), os_error});
  auto file = from_bytes(std::move(*bytes));
  if (!file) return std::unexpected(FieldFileError{std::move(file.error()), 0});
  return std::move(*file);
}

Result<SharedFieldFile> FieldFile::from_bytes(SharedBytes bytes) {
  if (!bytes) bytes = std::make_shared<const ByteBlock>(0);
  auto scan = scan_messages(bytes->span());
  // Without a whole message the bytes may still end in a cut one.
  SharedFieldFile file(new FieldFile(std::move(bytes), scan ? std::move(*scan) : ScanResult{}));
  if (file->size() == 0) return fail(scan ? std::string("no GRIB messages found") : std::move(scan.error()));
  return file;
}

Bytes FieldFile::message_of_record(std::size_t r) const {
  // Records lie within the bytes: the scan's, and the cut message's by
  // construction.
  const MessageRecord& record = scan_.records[r];
  return bytes_->span().subspan(static_cast<std::size_t>(record.offset), static_cast<std::size_t>(record.totalLength));
}

Bytes FieldFile::message_of(std::size_t field) const { return message_of_record(fields_[field].record); }

// The field's record: its message's, with the codes of the field's own
// sections.
FieldFile::Described FieldFile::describe(std::size_t field) const {
  const Entry& entry = fields_[field];
  const MessageRecord& message_record = scan_.records[entry.record];
  const Bytes message = message_of(field);
  Described out;
  if (entry.record < scanned_records_ && entry.spans == message_record.spans) {
    // The field the scan described its message by.
    out.record = message_record;
  } else if (auto record = summarise_field(message, message_record, entry.spans)) {
    out.record = std::move(*record);
  } else {
    // A grid or data representation section that does not parse: the
    // message's codes with the field's sections; reading its values says
    // what is wrong.
    out.record = message_record;
    out.record.spans = entry.spans;
  }
  out.grid_size = grid_size_of(out.record);
  // A GRIB1 grid its producer predefines: as many points as the bitmap
  // has, else as the data section holds values.
  if (out.record.edition == Edition::One && !entry.spans.grid.present()) {
    if (auto grid = grib1_predefined_grid(message)) out.grid_size = grid->points;
  }
  return out;
}

namespace {

// The value of a once-only slot, made by `make` on first use; a thread that
// loses the race to fill it keeps the winner's.
template <class T, class Make>
const T& once(std::atomic<const T*>& slot, Make make) {
  if (const T* done = slot.load(std::memory_order_acquire)) return *done;
  auto made = std::make_unique<const T>(make());
  const T* expected = nullptr;
  if (slot.compare_exchange_strong(expected, made.get(), std::memory_order_acq_rel)) return *made.release();
  return *expected;
}

}  // namespace

const FieldFile::Described& FieldFile::described(std::size_t field) const {
  return once(described_[field], [&] { return describe(field); });
}

namespace {

// gridType names every GRIB2 grid template here, where the codes API knows
// only some (and calls a rotated Gaussian grid reduced_gg). GRIB1 records
// carry the number of the codes API's name, which is right for every GRIB1
// grid read.
void name_grid_type(const MessageRecord& record, DerivedKeys& keys) {
  if (record.edition != Edition::Two || !record.gridDefinitionTemplateNumber) return;
  const std::string_view name =
      grid_type_of_template(*record.gridDefinitionTemplateNumber, record.reduced_point_count.has_value());
  if (!name.empty()) keys.set("gridType", KeyValue{std::string(name)});
}

// GRIB1: the number of the grid in the product definition (octet 7, at
// octet 15 of the message), gridDefinition, 255 where the message describes
// its grid; a message without a grid description has it as
// numberOfGridUsed too (the name the grid keys of edition 2 give the number
// of a grid described elsewhere).
void add_grib1_grid_number(const MessageRecord& record, Bytes message, DerivedKeys& keys) {
  constexpr std::size_t kGridNumber = 8 + 6;
  if (record.edition != Edition::One || message.size() <= kGridNumber) return;
  const auto number = static_cast<std::int64_t>(message[kGridNumber]);
  keys.set("gridDefinition", KeyValue{number});
  if (!record.spans.grid.present()) keys.set("numberOfGridUsed", KeyValue{number});
}

}  // namespace

const DerivedKeys& FieldFile::codes_keys(std::size_t field) const {
  return once(codes_keys_[field], [&] {
    const Described& d = described(field);
    DerivedKeys keys = derive_keys(
        FieldView{d.record, message_of(field), d.grid_size.has_value(), d.grid_size.value_or(0)}, KeySet::Codes);
    name_grid_type(d.record, keys);
    return keys;
  });
}

// The codes API's keys and the template fields, with the grid keys in
// degrees and metres (LaDInDegrees, DxInMetres, the Earth's axes, ...)
// where no key of that name is there already: the section's own fields
// have the same names and values in both.
const DerivedKeys& FieldFile::all_keys(std::size_t field) const {
  return once(all_keys_[field], [&] {
    const Described& d = described(field);
    const Bytes section = grid_section(field);
    DerivedKeys keys =
        derive_keys(FieldView{d.record, message_of(field), d.grid_size.has_value(), d.grid_size.value_or(0)},
                    KeySet::All, section.empty() ? std::span<const FieldKey>() : derived_grid_keys(d.record.edition, section));
    name_grid_type(d.record, keys);
    add_grib1_grid_number(d.record, message_of(field), keys);
    return keys;
  });
}

std::span<const FieldKey> FieldFile::derived_grid_keys(Edition edition, Bytes section) const {
  if (edition != Edition::One && edition != Edition::Two) return {};
  auto& known = grid_keys_[edition == Edition::One ? 0 : 1];
  const std::string_view bytes(reinterpret_cast<const char*>(section.data()), section.size());
  {
    const std::lock_guard lock(grid_keys_mutex_);
    if (auto it = known.find(bytes); it != known.end()) return *it->second;
  }
  auto sorted = std::make_unique<std::vector<FieldKey>>();
  if (auto grid = grid_keys_of(edition, section, GridKeySet::Derived)) {
    // The first of a repeated name, in name order.
    std::stable_sort(grid->begin(), grid->end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    sorted->reserve(grid->size());
    for (auto& [name, value] : *grid) {
      if (!sorted->empty() && sorted->back().first == name) continue;
      sorted->emplace_back(lasting_key_name(name), std::move(value));
    }
  }
  const std::lock_guard lock(grid_keys_mutex_);
  // A thread that made them meanwhile keeps its own.
  return *known.try_emplace(bytes, std::move(sorted)).first->second;
}

Bytes FieldFile::grid_section(std::size_t field) const {
  const SectionSpan& span = fields_[field].spans.grid;
  const Bytes message = message_of(field);
  if (!span.present() || span.offset > message.size() || span.length > message.size() - span.offset) return {};
  return message.subspan(static_cast<std::size_t>(span.offset), static_cast<std::size_t>(span.length));
}

// ---------------------------------------------------------------------- keys

std::span<const FieldKey> FieldFile::keys(std::size_t field) const { return all_keys(field).entries(); }

const KeyValue* FieldFile::find_key(std::size_t field, std::string_view name) const {
  // Most reads ask for keys of the codes API: their set is a fifth of the
  // cost of every key, and has the same values.
  if (const DerivedKeys* all = all_keys_[field].load(std::memory_order_acquire)) return all->find(name);
  if (const KeyValue* value = codes_keys(field).find(name)) return value;
  return all_keys(field).find(name);
}

const KeyValue* FieldFile::find_key(std::size_t field, std::string_view name, std::size_t& hint) const {
  const DerivedKeys* all = all_keys_[field].load(std::memory_order_acquire);
  if (!all) return find_key(field, name);
  const auto& entries = all->entries();
  if (hint < entries.size() && entries[hint].first == name) return &entries[hint++].second;
  const auto it = std::lower_bound(entries.begin(), entries.end(), name,
                                   [](const FieldKey& e, std::string_view n) { return e.first < n; });
  if (it == entries.end() || it->first != name) return nullptr;
  hint = static_cast<std::size_t>(it - entries.begin()) + 1;
  return &it->second;
}

CodesResult<std::int64_t> FieldFile::key_long(std::size_t field, std::string_view name) const {
  const KeyValue* value = find_key(field, name);
  if (!value) return codes_fail(CodesError::key_not_found(std::string(name)));
  return value_as_long(*value, name);
}

CodesResult<double> FieldFile::key_double(std::size_t field, std::string_view name) const {
  const KeyValue* value = find_key(field, name);
  if (!value) return codes_fail(CodesError::key_not_found(std::string(name)));
  return value_as_double(*value, name);
}

CodesResult<std::string> FieldFile::key_text(std::size_t field, std::string_view name) const {
  const KeyValue* value = find_key(field, name);
  if (!value) return codes_fail(CodesError::key_not_found(std::string(name)));
  return value_as_text(*value, name);
}

}  // namespace vorlak
