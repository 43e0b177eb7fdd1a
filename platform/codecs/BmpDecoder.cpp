// Bmp decoder: not written yet.

#include "Decoders.h"

#include "Exception.h"

void DecodeBmp(std::FILE*, IRowSink&) { throw EInvalidImage("Bmp: not supported yet"); }
