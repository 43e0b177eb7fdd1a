#pragma once
// The decoders behind the format table. Each follows the shape described in
// ImageCodec.h. Not part of the codecs' interface: callers go through the
// table.

#include "ImageCodec.h"

void DecodeBmp(std::FILE* file, IRowSink& sink);
void DecodeJpeg(std::FILE* file, IRowSink& sink);
void DecodePng(std::FILE* file, IRowSink& sink);
void DecodeGif(std::FILE* file, IRowSink& sink);
void DecodeIco(std::FILE* file, IRowSink& sink);
