#pragma once
// How a field is decoded: which data representation templates are accepted
// and how many threads one large field may be split across.
#include <cstdint>

namespace vorlak {

struct DecodeOptions {
  // The codes API decodes the templates it has always decoded and refuses
  // the others with its own texts; the field API reads every template it
  // has a decoder for.
  bool all_templates = false;
  // Threads one field may use (1: the calling thread only). The codes API
  // starts no threads of its own and always passes 1.
  unsigned threads = 1;
  // Fields of fewer values stay on the calling thread whatever `threads`
  // says; below about a million values splitting gains little. Tests lower
  // it to take the split route on small fields.
  std::uint64_t split_threshold = 1'000'000;
};

}  // namespace vorlak
