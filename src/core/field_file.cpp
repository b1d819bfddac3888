// Opening a FieldFile, the positions of its fields and their keys. The
// decoding side is in field_decode.cpp.
#include "core/field_file.hpp"

#include <cstring>

#include "core/file_read.hpp"
#include "core/key_lookup.hpp"
#include "grib/grib2_sections.hpp"

namespace vorlak {

FieldFile::FieldFile(SharedBytes bytes, ScanResult scan) : bytes_(std::move(bytes)), scan_(std::move(scan)) {
  fields_.reserve(scan_.records.size());
  for (std::size_t r = 0; r < scan_.records.size(); ++r) add_fields(r);
  add_cut_message();
  described_ = std::make_unique<std::atomic<const HandleRecord*>[]>(fields_.size());
}

void FieldFile::add_fields(std::size_t r) {
  const MessageRecord& record = scan_.records[r];
  Entry entry;
  entry.position.message_number = record.messageNumber;
  entry.position.message_offset = record.offset;
  entry.position.message_length = record.totalLength;
  entry.record = r;
  std::vector<FieldSections> sections;
  if (record.edition == Edition::Two) {
    if (auto message = message_bytes(BytesSource::shared(bytes_), record)) {
      if (auto walked = walk_fields(*message)) sections = std::move(*walked);
    }
  }
  // A message with one field is read as it is, through its scan record.
  if (sections.size() <= 1) {
    if (sections.size() == 1 && sections[0].error) entry.sections = std::move(sections[0]);
    fields_.push_back(std::move(entry));
    return;
  }
  entry.position.fields_in_message = static_cast<std::uint32_t>(sections.size());
  entry.own_record = true;
  for (std::size_t k = 0; k < sections.size(); ++k) {
    entry.position.index_in_message = static_cast<std::uint32_t>(k);
    entry.sections = std::move(sections[k]);
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
    std::vector<FieldSections>& sections = cut.fields;
    MessageRecord record;
    record.edition = Edition::Two;
    record.messageNumber = scan_.records.size() + 1;
    record.offset = at;
    record.totalLength = all.size() - at;  // the bytes there are
    record.discipline = all[at + 6];
    scan_.records.push_back(record);
    Entry entry;
    entry.position.message_number = record.messageNumber;
    entry.position.message_offset = record.offset;
    entry.position.message_length = record.totalLength;
    entry.position.fields_in_message = static_cast<std::uint32_t>(sections.size());
    entry.record = scan_.records.size() - 1;
    entry.own_record = true;
    for (std::size_t k = 0; k < sections.size(); ++k) {
      entry.position.index_in_message = static_cast<std::uint32_t>(k);
      entry.sections = std::move(sections[k]);
      fields_.push_back(entry);
    }
    return;
  }
}

FieldFile::~FieldFile() {
  for (std::size_t i = 0; i < fields_.size(); ++i) delete described_[i].load(std::memory_order_relaxed);
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

// The record of a field: its message's scan record, or for a field of a
// message that carries several, the summary of the one-field message made
// of its sections, placed where the message is.
HandleRecord FieldFile::describe(std::size_t field) const {
  const Entry& entry = fields_[field];
  const MessageRecord& message_record = scan_.records[entry.record];
  if (!entry.own_record) return HandleRecord::make(message_record, BytesSource::shared(bytes_));
  MessageRecord record;
  record.edition = Edition::Two;
  record.messageNumber = message_record.messageNumber;
  record.discipline = message_record.discipline;
  auto made = bytes_of(field, FieldContent::Keys);
  if (made) {
    record.totalLength = made->made.size();
    // A field whose sections do not describe it (no section 4, say) keeps
    // what could be read; reading its values says what is wrong.
    (void)summarise_grib2(made->made, record.messageNumber, record);
  }
  record.offset = message_record.offset;
  record.totalLength = message_record.totalLength;
  return HandleRecord::make(record, BytesSource{});
}

const HandleRecord& FieldFile::described(std::size_t field) const {
  std::atomic<const HandleRecord*>& slot = described_[field];
  if (const HandleRecord* done = slot.load(std::memory_order_acquire)) return *done;
  auto made = std::make_unique<const HandleRecord>(describe(field));
  const HandleRecord* expected = nullptr;
  // A thread that loses the race keeps the winner's record.
  if (slot.compare_exchange_strong(expected, made.get(), std::memory_order_acq_rel)) return *made.release();
  return *expected;
}

Result<FieldFile::FieldBytes> FieldFile::bytes_of(std::size_t field, FieldContent content) const {
  const Entry& entry = fields_[field];
  auto message = message_bytes(BytesSource::shared(bytes_), scan_.records[entry.record]);
  if (!message) return fail(std::move(message.error()));
  FieldBytes out;
  out.message = *message;
  if (entry.sections) out.made = single_field_message(*message, *entry.sections, content);
  return out;
}

const MessageRecord& FieldFile::record_of(std::size_t field) const {
  if (!fields_[field].own_record) return scan_.records[fields_[field].record];
  return described(field).record;
}

// ---------------------------------------------------------------------- keys

std::span<const FieldKey> FieldFile::keys(std::size_t field) const { return described(field).derived.entries(); }

const KeyValue* FieldFile::find_key(std::size_t field, std::string_view name) const {
  return described(field).derived.find(name);
}

CodesResult<std::int64_t> FieldFile::key_long(std::size_t field, std::string_view name) const {
  const KeyValue* value = find_key(field, name);
  if (!value) return codes_fail(CodesError::key_not_found(std::string(name)));
  switch (value->tag()) {
    case KeyTag::Long: return std::get<std::int64_t>(value->value);
    case KeyTag::Double: return saturating_double_to_long(std::get<double>(value->value));
    case KeyTag::String:
      if (auto parsed = parse_decimal_long(std::get<std::string>(value->value))) return *parsed;
      break;
    case KeyTag::DoubleArray: break;
  }
  return codes_fail(CodesError::type_mismatch(std::string(name), "long", value->type_name()));
}

CodesResult<double> FieldFile::key_double(std::size_t field, std::string_view name) const {
  const KeyValue* value = find_key(field, name);
  if (!value) return codes_fail(CodesError::key_not_found(std::string(name)));
  switch (value->tag()) {
    case KeyTag::Long: return static_cast<double>(std::get<std::int64_t>(value->value));
    case KeyTag::Double: return std::get<double>(value->value);
    case KeyTag::String:
      if (auto parsed = parse_decimal_double(std::get<std::string>(value->value))) return *parsed;
      break;
    case KeyTag::DoubleArray: break;
  }
  return codes_fail(CodesError::type_mismatch(std::string(name), "double", value->type_name()));
}

CodesResult<std::string> FieldFile::key_text(std::size_t field, std::string_view name) const {
  const KeyValue* value = find_key(field, name);
  if (!value) return codes_fail(CodesError::key_not_found(std::string(name)));
  switch (value->tag()) {
    case KeyTag::Long: return std::to_string(std::get<std::int64_t>(value->value));
    case KeyTag::Double: return format_double(std::get<double>(value->value));
    case KeyTag::String: return std::get<std::string>(value->value);
    case KeyTag::DoubleArray: break;
  }
  return codes_fail(CodesError::type_mismatch(std::string(name), "string", value->type_name()));
}

}  // namespace vorlak
