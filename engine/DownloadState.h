// The download's states and the kinds of image, shared by the protocol machine, the worker and
// every front end that shows where a download stands.
#pragma once

namespace irdload {

/// What the engine is downloading.
enum ImageKind : int { IMAGE_NONE = 0, IMAGE_SINGLE = 1, IMAGE_FIRST = 2, IMAGE_SECOND = 3 };

/// The download's states, in the order a download passes through them.
enum DownloadState : int {
  STATUS_SEND_CONNECT_REQ = 0,
  STATUS_WAIT_CONNECT_ACK = 1,
  STATUS_SEND_CONNECT_RE_ACK = 2,
  STATUS_WAIT_HEADER_REQ = 3,
  STATUS_SEND_HEADER = 4,
  STATUS_WAIT_HEADER_ACK = 5,
  STATUS_SEND_HEADER_ACK = 6,
  STATUS_SEND_HEADER_NACK = 7,
  STATUS_WAIT_DATA_REQ = 8,
  STATUS_SEND_DATA = 9,
  STATUS_WAIT_DATA_ACK = 10,
  STATUS_SEND_DATA_ACK = 11,
  STATUS_SEND_DATA_NACK = 12,
  STATUS_WAIT_TERMINATE_REQ = 13,
  STATUS_SEND_SUCCESS_TERMINATE_ACK = 14,
  STATUS_SEND_FAIL_TERMINATE_ACK = 15,
  STATUS_END = 16,
  STATUS_ERREND = 17,
  STATUS_IDLE = 18,
};

}  // namespace irdload
