// Resource identifiers and version numbers, shared by the code and the resource script.
#pragma once

#define IDD_UPDATE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_INSTALL_INFO 1000

// The launcher's own file and product version, 1.0.0.1.
#define KV_VERSION_MAJOR 1
#define KV_VERSION_MINOR 0
#define KV_VERSION_PATCH 0
#define KV_VERSION_BUILD 1
#define KV_VERSION_TEXT "1, 0, 0, 1"

// The embedded update program: a resource of type "LZT" named "UPEXE".
#define KV_PAYLOAD_TYPE "LZT"
#define KV_PAYLOAD_NAME "UPEXE"
// Beside it, its integrity record: the decoded size (4 bytes, little-endian)
// and the SHA-256 of the decoded program (32 bytes).
#define KV_PAYLOAD_DIGEST_NAME "UPSUM"
