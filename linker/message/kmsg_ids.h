#pragma once

#include <cstdint>

// Vocabulary shared with the key firmware. One numbering of tag identifiers for
// every message type; what a tag means depends on the message type and direction.

enum KMsgType : uint8_t {
    MSG_SET = 0, // settings, details and status; replies to key requests
    MSG_REQUEST = 1, // requests in either direction
    MSG_DATA = 5, // relay payload
};

// Wire type codes of the tag classes.
enum KTagType : uint8_t {
    TYPE_NULL = 0,
    TYPE_STRING = 1,
    TYPE_UINT32 = 2,
    TYPE_UINT16 = 3,
    TYPE_UINT8 = 4,
    TYPE_BYTES = 5,
};

enum KTagId : uint8_t {
    TAG_SERIAL = 0, // uint32, key serial number
    TAG_BOX = 1, // string, box name
    TAG_SW = 8, // string, key software version
    TAG_HW = 9, // string, key hardware version
    TAG_KEY_BAR = 11, // uint8: 128 ready, below progress, above transfer busy
    TAG_BATTERY = 12, // uint8, battery level
    TAG_QUERY = 16, // request from key, answered with 0xFFFFFFFF
    TAG_QUERY_END = 17, // as TAG_QUERY, and the answer is sent
    TAG_TIME = 18, // request from key, answered with Unix time
    TAG_SCAN = 19, // scan request to key; scanned RFID bytes from key
    TAG_LABEL_TEXT = 20, // string, text of the selected detail label
    TAG_OPEN = 21, // open (unlock) request
    TAG_CLOSE = 22, // close (lock) request
    TAG_LABEL_COLOR = 23, // string, colour word of the selected detail label
    TAG_LABEL_INDEX = 25, // uint8, detail label selector
    TAG_CONNECT = 26, // key connection start / relay link open
    TAG_DISCONNECT = 27, // key connection end / relay link close
    TAG_TRANS_COUNT = 32, // uint32, transfer count
    TAG_TRANSFER = 33, // null, data transfer request
    TAG_SERVER = 35, // string, relay server host
    TAG_PORT = 36, // uint16, relay server port
    TAG_DATA = 37, // bytes, relay payload to the key
    TAG_SERVICE = 43, // string, web service host
    TAG_SERVICE_PORT = 44, // uint16, web service port
    TAG_MODE = 45, // uint8: bit 0 manual mode, bit 1 progress bar colour
};

// Largest encoded message (type, count and all tags).
constexpr int kMsgMaxSize = 1024;
// Largest value a string or bytes tag holds.
constexpr int kTagMaxValue = 1024;
// Tag header: identifier, type code, 16-bit length.
constexpr int kTagHeaderSize = 4;
