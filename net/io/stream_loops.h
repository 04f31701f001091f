#pragma once

#include <functional>

#include "net/io/byte_sink.h"
#include "net/io/byte_stream.h"
#include "net/io/net_result.h"

class DataSource;

// The loops that move bytes over a ByteStream, written once for the socket client and the
// server's connection workers; where the two differ, the difference is a parameter.

/// Where a line ends.
enum class LineEnd {
  LineFeed,                ///< at the first line feed
  CarriageReturnLineFeed,  ///< at a carriage return followed by a line feed within one peek
};

/// Asked before each step of an operation; true ends it with what it has done so far.
using StopCheck = std::function<bool()>;
/// Told the bytes moved so far after each block; false ends the transfer with Cancelled.
using ProgressCheck = std::function<bool(long)>;
/// A write of up to `length` bytes: the count written, 0 or less when nothing went.
using WriteBytes = std::function<int(const char* data, int length)>;
/// Handed one piece of a text; false ends the walk.
using TakePiece = std::function<bool(const char* piece, int length)>;

/// Blocks of received bodies and of sent sources.
constexpr int kReceiveBlockSize = 256;
constexpr int kSendBlockSize = 255;

/// One read of up to `length` bytes after waiting up to `timeoutSeconds` when that is > 0: the
/// count, 0 when nothing came in time or the peer closed, -1 on error. 0 for a null buffer or a
/// length below 1.
int ReadSome(ByteStream& stream, char* buffer, int length, int timeoutSeconds);

/// Reads until `length` bytes came, a wait of `timeoutSeconds` (> 0) ran out, the peer closed, a
/// read failed, or `stop` (when given) answered true before a read. Returns the bytes read.
int ReadExactly(ByteStream& stream, char* buffer, int length, int timeoutSeconds,
                const StopCheck& stop);

/// Reads one line ending as `end` says into `buffer` of `size` bytes, its line end kept and the
/// text NUL-terminated, and consumes nothing beyond it. A longer line comes cut at size - 1
/// bytes with the rest left to read. Stops with what it has when `stop` (when given) answers
/// true before a step, a wait of `timeoutSeconds` (> 0) runs out, the peer closes or a read
/// fails. Returns the bytes stored, 0 when nothing came.
int ReadLine(ByteStream& stream, char* buffer, int size, int timeoutSeconds, LineEnd end,
             const StopCheck& stop);

/// Reads blocks of up to 256 bytes into `sink`, each no larger than the sink's capacity, until
/// the peer closes, the sink is full or `received` reaches `maxBytes` (> 0) (Success). Before each
/// read it waits up to `timeoutSeconds` (> 0): ReadTimedOut. A failed read gives ReadFailed, a
/// sink that takes fewer bytes SourceWriteFailed, a false `progress` Cancelled. `received` grows
/// by each block.
NetResult ReceiveToSink(ByteStream& stream, ByteSink& sink, int timeoutSeconds, long maxBytes,
                        long& received, const ProgressCheck& progress);

/// Opens `source` in `mode` (1 create or truncate, 2 append; else BadSourceMode), receives into
/// it as ReceiveToSink does without a capacity, and closes it. SourceOpenFailed when it does not
/// open.
NetResult ReceiveToSource(ByteStream& stream, DataSource& source, int mode, int timeoutSeconds,
                          long maxBytes, long& received, const ProgressCheck& progress);

/// Writes with `write` (one send each) until all `length` bytes went or a write moved nothing;
/// after each piece `stop` (when given) may end it. Returns the bytes written.
int WriteAll(const WriteBytes& write, const char* data, int length, const StopCheck& stop);

/// Hands `text` (negative length: up to the NUL) to `take` in pieces of `width` bytes, the last
/// one shorter, until `take` answers false. Nothing for a null text or a width below 1.
void ForEachPiece(const char* text, int length, int width, const TakePiece& take);

/// Reads the open `source` in blocks of up to 255 bytes and hands each to `writeWhole`, which
/// must write all of it, until the source ends (Success). SendFailed when a block did not go
/// whole, Cancelled when `progress` answers false; `sent` grows by each block. The source stays
/// open.
NetResult SendSource(const WriteBytes& writeWhole, DataSource& source, long& sent,
                     const ProgressCheck& progress);

/// Reads and drops whatever has arrived.
void DiscardPending(ByteStream& stream);
