#pragma once

#include <cstdint>

/// Result codes of the socket, HTTP client and server operations; 0 is success.
enum class NetResult : std::int32_t {
  Success = 0,
  Failed = 1,  ///< a close, shutdown, mode switch, accept or wait failed
  WriteFailed = 4,
  ConnectTimedOut = 5,
  HostNotFound = 7,
  NoSocket = 15,
  AlreadyOpen = 16,
  SocketCreateFailed = 17,
  BindFailed = 18,
  ConnectFailed = 19,
  ReadTimedOut = 20,
  ReadFailed = 21,
  SendFailed = 22,
  ListenFailed = 23,
  BadSourceMode = 26,
  FileCreateFailed = 27,
  FileWriteFailed = 30,
  BufferTooSmall = 35,
  InvalidUrl = 45,
  SourceOpenFailed = 81,
  SourceWriteFailed = 83,
  Cancelled = 98,
  AddressResolveFailed = 100,
  UrlHostInvalid = 104,
  HostNameTooLong = 105,
  NoRootPath = 106,
};
