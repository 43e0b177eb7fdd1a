// Jpeg decoder: not written yet.

#include "Decoders.h"

#include "Exception.h"

void DecodeJpeg(std::FILE*, IRowSink&) { throw EInvalidImage("Jpeg: not supported yet"); }
