// Messages in and out: opening the next message of a file, counting,
// offsets, a handle from bytes, a message's bytes, writing them.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <span>
#include <string>

#include "core/file_cache.hpp"
#include "core/key_lookup.hpp"
#include "grib/text.hpp"
#include "lib/args.hpp"
#include "lib/errors.hpp"
#include "lib/file_objects.hpp"
#include "lib/functions.hpp"
#include "lib/handles.hpp"

namespace vorlak::py::fn {

namespace {

std::uint64_t message_end(const MessageRecord& record) {
  const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
  return record.offset > limit - record.totalLength ? limit : record.offset + record.totalLength;
}

// The first message ending after `position`: a position inside a message
// selects it, one at an end or in a gap selects the next. Records are in
// file order, so their ends increase.
const MessageRecord* first_ending_after(const std::vector<MessageRecord>& records, std::uint64_t position) {
  const auto found = std::partition_point(records.begin(), records.end(), [&](const MessageRecord& r) {
    return message_end(r) <= position;
  });
  return found == records.end() ? nullptr : &*found;
}

SharedFile load_or_raise(const std::string& path) {
  auto loaded = load_file_cached(path);
  if (!loaded) {
    raise_internal(loaded.error());
    return nullptr;
  }
  return std::move(*loaded);
}

// The shared part of the three *_new_from_file functions.
PyObject* next_message(PyObject* fileobj) {
  const auto path = resolve_path(fileobj);
  if (!path) return nullptr;
  const auto position = query_position(fileobj);
  if (!position) return nullptr;
  const SharedFile file = load_or_raise(*path);
  if (!file) return nullptr;
  const MessageRecord* record = first_ending_after(file->scan.records, *position);
  if (!record) Py_RETURN_NONE;
  if (!move_position(fileobj, message_end(*record))) return nullptr;
  return new_handle(HandleRecord::make(*record, BytesSource::shared(file->bytes)));
}

// headers_only must be a bool when given; it has no effect.
bool check_headers_only(PyObject* given) { return !given || arg_bool(given, "headers_only").has_value(); }

template <class Build>
PyObject* extract_offsets(const char* function, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                          Build build) {
  const Params<3> params{function, {"filepath", "product_kind", "is_strict"}, 2};
  Bound<3> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  if (!PyUnicode_Check(a[0])) return raise_cannot_convert(a[0], "PyString", "filepath"), nullptr;
  const auto path = fs_encode(a[0]);
  if (!path) return prefix_argument_error("filepath"), nullptr;
  const auto kind = arg_i32(a[1], "product_kind");
  if (!kind) return nullptr;
  bool strict = true;
  if (a[2]) {
    const auto given = arg_bool(a[2], "is_strict");
    if (!given) return nullptr;
    strict = *given;
  }
  if (*kind != 0 && *kind != 1) {
    if (strict) {
      return raise(ErrorClass::FunctionNotImplemented,
                   "offset extraction is currently implemented for GRIB messages only");
    }
    return PyList_New(0);
  }
  const SharedFile file = load_or_raise(*path);
  if (!file) return nullptr;
  const auto& records = file->scan.records;
  PyRef list(PyList_New(static_cast<Py_ssize_t>(records.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < records.size(); ++i) {
    PyObject* item = build(records[i]);
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

// Reads an integer key of the handle as get_long does.
PyObject* long_key(const char* function, const char* key, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
  const Params<1> params{function, {"msgid"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  HandleObject* handle = arg_handle(a[0], "msgid");
  if (!handle) return nullptr;
  SharedAccess access(handle->borrow);
  if (!access) return nullptr;
  const auto value = get_long(handle->handle, key);
  if (!value) return raise(value.error());
  return PyLong_FromLongLong(*value);
}

// A new bytes object with the handle's message.
PyObject* message_as_bytes(const HandleRecord& handle) {
  const auto bytes = message_bytes(handle.bytes, handle.record);
  if (!bytes) return raise_internal(bytes.error());
  return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes->data()),
                                   static_cast<Py_ssize_t>(bytes->size()));
}

}  // namespace

VORLAK_FUNCTION(codes_grib_new_from_file) {
  static constexpr Params<2> params{"codes_grib_new_from_file", {"fileobj", "headers_only"}, 1};
  Bound<2> a;
  if (!bind(params, args, nargs, kwnames, a) || !check_headers_only(a[1])) return nullptr;
  return next_message(a[0]);
}

VORLAK_FUNCTION(codes_any_new_from_file) {
  static constexpr Params<2> params{"codes_any_new_from_file", {"fileobj", "headers_only"}, 1};
  Bound<2> a;
  if (!bind(params, args, nargs, kwnames, a) || !check_headers_only(a[1])) return nullptr;
  return next_message(a[0]);
}

VORLAK_FUNCTION(codes_new_from_file) {
  static constexpr Params<3> params{"codes_new_from_file", {"fileobj", "product_kind", "headers_only"}, 2};
  Bound<3> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  const auto kind = arg_i32(a[1], "product_kind");
  if (!kind || !check_headers_only(a[2])) return nullptr;
  switch (*kind) {
    case 0:  // CODES_PRODUCT_ANY
    case 1:  // CODES_PRODUCT_GRIB
      return next_message(a[0]);
    case 2:  // BUFR, METAR, GTS: known kinds this reader does not handle
    case 3:
    case 4:
      return raise(ErrorClass::FunctionNotImplemented, "vorlak currently supports GRIB messages only");
    default:
      return raise_internal(str_cat("unsupported product kind ", *kind));
  }
}

VORLAK_FUNCTION(codes_count_in_file) {
  static constexpr Params<1> params{"codes_count_in_file", {"fileobj"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  PyObject* fileobj = a[0];
  const auto path = resolve_path(fileobj);
  if (!path) return nullptr;
  const auto position = query_position(fileobj);
  if (!position) return nullptr;
  const SharedFile file = load_or_raise(*path);
  if (!file) return nullptr;
  if (!move_position(fileobj, 0)) return nullptr;
  const auto& records = file->scan.records;
  const MessageRecord* first = first_ending_after(records, *position);
  const std::size_t remaining = first ? static_cast<std::size_t>(records.data() + records.size() - first) : 0;
  return PyLong_FromSize_t(remaining);
}

VORLAK_FUNCTION(codes_extract_offsets) {
  return extract_offsets("codes_extract_offsets", args, nargs, kwnames,
                         [](const MessageRecord& r) { return PyLong_FromUnsignedLongLong(r.offset); });
}

VORLAK_FUNCTION(codes_extract_offsets_sizes) {
  return extract_offsets("codes_extract_offsets_sizes", args, nargs, kwnames, [](const MessageRecord& r) {
    return Py_BuildValue("(KK)", static_cast<unsigned long long>(r.offset),
                         static_cast<unsigned long long>(r.totalLength));
  });
}

VORLAK_FUNCTION(codes_new_from_message) {
  static constexpr Params<1> params{"codes_new_from_message", {"message"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  const auto buffer = arg_byte_sequence(a[0], "message");
  if (!buffer) return nullptr;
  const auto scan = scan_messages(std::span<const std::uint8_t>(*buffer));
  if (!scan) return raise_internal(scan.error());
  const auto& records = scan->records;
  const auto first = std::find_if(records.begin(), records.end(),
                                  [](const MessageRecord& r) { return r.messageNumber == 1; });
  if (first == records.end()) return raise_internal("message 1 not found");
  const std::uint64_t end = message_end(*first);
  if (end > buffer->size()) {  // the end saturates, so an overflowing range fails here too
    return raise_internal(str_cat("message ", first->messageNumber, " bytes are out of range"));
  }
  // The handle keeps exactly the message's bytes; its record keeps the
  // offset within the buffer it was found in.
  const std::span<const std::uint8_t> bytes(buffer->data() + first->offset, first->totalLength);
  return new_handle(HandleRecord::make(*first, BytesSource::private_copy(ByteBlock::copy_of(bytes))));
}

VORLAK_FUNCTION(codes_get_message) {
  static constexpr Params<1> params{"codes_get_message", {"msgid"}, 1};
  Bound<1> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  HandleObject* handle = arg_handle(a[0], "msgid");
  if (!handle) return nullptr;
  SharedAccess access(handle->borrow);
  if (!access) return nullptr;
  return message_as_bytes(handle->handle);
}

VORLAK_FUNCTION(codes_write) {
  static constexpr Params<2> params{"codes_write", {"msgid", "fileobj"}, 2};
  Bound<2> a;
  if (!bind(params, args, nargs, kwnames, a)) return nullptr;
  HandleObject* handle = arg_handle(a[0], "msgid");
  if (!handle) return nullptr;
  SharedAccess access(handle->borrow);
  if (!access) return nullptr;
  PyRef bytes(message_as_bytes(handle->handle));
  if (!bytes) return nullptr;
  PyRef write(PyObject_GetAttrString(a[1], "write"));
  if (!write) return nullptr;
  PyRef result(PyObject_CallOneArg(write.get(), bytes.get()));
  if (!result) return nullptr;
  Py_RETURN_NONE;
}

VORLAK_FUNCTION(codes_get_message_offset) {
  return long_key("codes_get_message_offset", "offset", args, nargs, kwnames);
}

VORLAK_FUNCTION(codes_get_offset) { return long_key("codes_get_offset", "offset", args, nargs, kwnames); }

VORLAK_FUNCTION(codes_get_message_size) {
  return long_key("codes_get_message_size", "totalLength", args, nargs, kwnames);
}

}  // namespace vorlak::py::fn
