// Ico decoder: not written yet.

#include "Decoders.h"

#include "Exception.h"

void DecodeIco(std::FILE*, IRowSink&) { throw EInvalidImage("Ico: not supported yet"); }
