#pragma once
// How a field is decoded: which data representation templates are accepted
// and how many threads one large field may be split across.
namespace vorlak {

struct DecodeOptions {
  // The codes API decodes the templates it has always decoded and refuses
  // the others with its own texts; the field API reads every template it
  // has a decoder for.
  bool all_templates = false;
  // Threads one field may use (1: the calling thread only). The codes API
  // starts no threads of its own and always passes 1.
  unsigned threads = 1;
};

}  // namespace vorlak
