// Png decoder: not written yet.

#include "Decoders.h"

#include "Exception.h"

void DecodePng(std::FILE*, IRowSink&) { throw EInvalidImage("Png: not supported yet"); }
