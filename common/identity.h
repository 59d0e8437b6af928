// Who the plug-in is, in every format: its name, vendor, description, the
// ids and URIs hosts store with a session, and its version. The version is
// the project's (project(... VERSION) in CMakeLists.txt), which the build
// passes in; everything else is fixed here. A host keeps these ids with the
// sessions that use the plug-in: they never change.
#pragma once

#include <cstdint>

#if !defined(KV_VERSION_MAJOR) || !defined(KV_VERSION_MINOR) || !defined(KV_VERSION_PATCH)
#error "the build passes the project's version (link kv_common)"
#endif

namespace kv::identity {

inline constexpr const char* kName = "KV23-T ZuDiz";
inline constexpr const char* kVendor = "Harrow Quill";
inline constexpr const char* kDescription =
    "An op-amp drive stage: boost and pad, an error-function saturator, a 15 Hz high-pass and "
    "an output volume";

inline constexpr int kVersionMajor = KV_VERSION_MAJOR;
inline constexpr int kVersionMinor = KV_VERSION_MINOR;
inline constexpr int kVersionPatch = KV_VERSION_PATCH;
#define KV_IDENTITY_STRING(x) #x
#define KV_IDENTITY_VERSION(a, b, c) \
    KV_IDENTITY_STRING(a) "." KV_IDENTITY_STRING(b) "." KV_IDENTITY_STRING(c)
// "1.1.10"
inline constexpr const char* kVersion =
    KV_IDENTITY_VERSION(KV_VERSION_MAJOR, KV_VERSION_MINOR, KV_VERSION_PATCH);
#undef KV_IDENTITY_VERSION
#undef KV_IDENTITY_STRING

// VST 2: the unique ID 'KV23' and a vendor version that is part of the
// identity hosts store, not the package's version: it stays 1110.
inline constexpr int32_t kVst2UniqueId = 0x4B563233;
inline constexpr const char* kVst2UniqueIdText = "KV23";
inline constexpr int32_t kVst2VendorVersion = 1110;

// CLAP's plug-in id.
inline constexpr const char* kClapId = "com.harrowquill.kv23-t-zudiz";

// VST3: the class id of the one object that is both the component and its
// edit controller, as the four 32-bit words hosts print it
// (KV23 ZuDi zVC3 HQu1). The plug-in builds its 16 bytes with travesty's
// V3_ID, whose byte order differs on Windows, so that hosts on either
// system store the same textual UID. The class's sub-categories.
inline constexpr uint32_t kVst3ClassId[4] = {0x4B563233, 0x5A754469, 0x7A564333, 0x48517531};
inline constexpr const char* kVst3SubCategories = "Fx|Distortion";

// LV2: the plug-in's and the panel's URIs (ours, not web addresses: nothing
// is served there), and its version. LV2 has no major version (a new one
// is a new URI) and reads an odd minor version as a development version
// that hosts hide, so the minor is 2 x (100 x major + minor), always even
// and growing with every release: 1.1.10 is 202.10.
inline constexpr const char* kLv2Uri = "urn:harrowquill:kv23-t-zudiz";
inline constexpr const char* kLv2UiUri = "urn:harrowquill:kv23-t-zudiz#ui";
inline constexpr int kLv2MinorVersion = 2 * (100 * kVersionMajor + kVersionMinor);
inline constexpr int kLv2MicroVersion = kVersionPatch;

}  // namespace kv::identity
