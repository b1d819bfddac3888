#include "lib/ktype.hpp"

#include <string>
#include <string_view>

namespace vorlak::py {

std::optional<Kind> reduce_ktype(PyObject* ktype) {
  if (!ktype || ktype == Py_None) return Kind::Native;
  PyRef text(PyObject_Str(ktype));
  if (!text) return std::nullopt;
  Py_ssize_t length = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &length);
  if (!utf8) return std::nullopt;
  std::string lowered(utf8, static_cast<std::size_t>(length));
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  const auto has = [&](std::string_view word) { return lowered.find(word) != std::string::npos; };
  if (has("float32")) return Kind::Float32;
  if (has("float64") || has("float")) return Kind::Float;
  if (has("int")) return Kind::Int;
  if (has("bytes")) return Kind::Bytes;
  if (has("str") || has("unicode")) return Kind::Str;
  return Kind::Native;
}

}  // namespace vorlak::py
