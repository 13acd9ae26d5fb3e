// Short messages for a GSM modem in PDU mode: the message record, the
// hexadecimal, 7-bit, 8-bit and UCS-2 codecs, the swapped digits of a
// telephone number, the PDU of an SMS-SUBMIT and the entries of a message
// list.  Text is UTF-8.
#pragma once
#include <cstdint>

inline constexpr int SMS_DCS_7BIT = 0;
inline constexpr int SMS_DCS_UCS2 = 8;
inline constexpr int SMS_NUMBER_MAX = 15;   // digits of a telephone number
inline constexpr int SMS_DATA_MAX = 199;    // user-data bytes of a record
inline constexpr int SMS_UCS2_MAX = 68;     // UTF-16 units of one message
inline constexpr int SMS_TEXT_MAX = 160;    // bytes of a decoded UCS-2 body
inline constexpr int SMS_PDU_ROOM = 512;    // any PDU text of a record, NUL included

// One message; a list of messages is an array of these 255-byte records.
struct SmsRecord {
  char Sca[16];    // service-centre address, text
  char Tpa[16];    // telephone number, text digits
  uint8_t Pid;     // protocol identifier
  uint8_t Dcs;     // data coding scheme: 0 7-bit, 8 UCS-2, others 8-bit
  char Scts[20];   // time stamp, text
  char Data[200];  // user data, text
  uint8_t Index;   // the modem's storage index
};
static_assert(sizeof(SmsRecord) == 255);

// Upper-case hexadecimal of n bytes, NUL-terminated in out (2n + 1 bytes): 2n.
int SmsBytesToHex(const uint8_t* bytes, int n, char* out);
// The pairs of hexadecimal digits (either case) among the length digits into
// out: length / 2, or -1 when one of them is no hexadecimal digit.
int SmsHexToBytes(const char* hex, uint8_t* out, int length);
// 1 when each of the first n bytes is a hexadecimal digit (either case), else 0.
int SmsIsHexString(const char* text, int n);

// Packs the low 7 bits of each of n bytes as GSM septets, least significant
// bit first: the octets written, (7n + 7) / 8.
int SmsEncode7bit(const char* src, int n, uint8_t* out);
// Unpacks the septets of n octets (eight in every seven) into out, NUL-
// terminated (8n / 7 + 1 bytes): the characters.
int SmsDecode7bit(const uint8_t* src, int n, char* out);
int SmsEncode8bit(const char* src, int n, uint8_t* out);
// Copies and NUL-terminates (out holds n + 1 bytes).
int SmsDecode8bit(const uint8_t* src, int n, char* out);
// UTF-8 to big-endian UTF-16, at most 68 units (a pair of surrogates is kept
// whole) into out (136 bytes): the octets.
int EncodeUcs2(const char* src, int n, uint8_t* out);
// Big-endian UTF-16 of n octets to UTF-8 of at most 160 bytes, whole
// characters only, NUL-terminated in out (161 bytes): the bytes.
int DecodeUcs2(const uint8_t* src, int n, char* out);

// The next UTF-8 character of s (len bytes, len >= 1): its byte count and
// code point.  A malformed byte counts as one character U+FFFD.
int SmsUtf8Next(const char* s, int len, uint32_t* code);

// Digits swapped in pairs, an odd count padded with F ("12345" -> "2143F5"),
// NUL-terminated in out (n + 2 bytes): the digits written.
int SmsInvertNumbers(const char* src, char* out, int n);
// Swaps the pairs back and drops a trailing F, NUL-terminated in out (n + 1).
int SmsSerializeNumbers(const char* src, char* out, int n);

// The PDU text of an SMS-SUBMIT of the record, NUL-terminated in out
// (SMS_PDU_ROOM bytes): its length.
int SmsEncodePdu(const SmsRecord& record, char* out);
// One entry of a text-mode message list, from the sender's number to the
// end of its body (len bytes), into the record: 0, or -1 when it is malformed.
int SmsDecodeListEntry(const char* text, int len, SmsRecord* record);
