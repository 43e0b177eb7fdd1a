// Gif decoder: not written yet.

#include "Decoders.h"

#include "Exception.h"

void DecodeGif(std::FILE*, IRowSink&) { throw EInvalidImage("Gif: not supported yet"); }
