// Reading what a server sends about its camera's control dialog: the
// description of its windows and the value updates that follow. Both are
// pure functions over the payload bytes; they never read past them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace brindle {

inline constexpr uint8_t REPLICA_KIND_OTHER = 0;
inline constexpr uint8_t REPLICA_KIND_BUTTON = 1;
inline constexpr uint8_t REPLICA_KIND_COMBO = 2;
inline constexpr uint8_t REPLICA_KIND_EDIT = 3;
inline constexpr uint8_t REPLICA_KIND_TAB = 4;
inline constexpr uint8_t REPLICA_KIND_SLIDER = 7;

// Texts keep at most this many bytes (a 260-byte field with its NUL).
inline constexpr size_t REPLICA_TEXT_MAX = 259;
// Deeper window trees are refused.
inline constexpr int REPLICA_DEPTH_MAX = 16;
inline constexpr int32_t REPLICA_SIZE_MAX = 32767;
inline constexpr int32_t REPLICA_DECIMALS_MAX = 9;

// Window style bits the replica honours.
inline constexpr uint32_t REPLICA_WS_VISIBLE = 0x10000000u;
inline constexpr uint32_t REPLICA_WS_DISABLED = 0x08000000u;
inline constexpr uint32_t REPLICA_TBS_VERT = 0x0002u;
inline constexpr uint32_t REPLICA_ES_READONLY = 0x0800u;

struct ReplicaControl {
    std::string cText;
    std::string cClass;
    int32_t position[4] = {}; // left, top, width, height
    int32_t client[4] = {};
    uint32_t nStyle = 0;
    uint32_t nExStyle = 0;
    uint32_t hParent = 0;
    uint32_t hWindow = 0;
    uint32_t nIdentifier = 0;
    uint8_t nKind = REPLICA_KIND_OTHER;
    int32_t nValue = 0; // check state, entry, number, tab or position
    std::vector<std::string> items;
    int32_t nMinimum = 0, nMaximum = 0, nPage = 0, nSelStart = 0, nSelEnd = 0;
    int nParent = -1;     // index of the local parent; -1: the dialog
    bool fDialog = false; // the dialog's own record (parent handle 0)
    int32_t nDecimals = 0;
};

struct ReplicaDescription {
    int32_t nCamera = 0;
    std::string cFont; // the font's text form; empty: none
    std::vector<ReplicaControl> controls;
};

// The kind a class name must carry: case-insensitive substring tests.
uint8_t ReplicaKindOfClass(const std::string& className);

// Reads a description (update kind 0). Returns true, or false with a
// reason for the log when it is refused whole: a length past the payload,
// a record past the length, a kind against its class, a zero or repeated
// handle, nesting deeper than 16. Records beyond the count are ignored.
// Sizes are clamped: the dialog's to the screen, others' to 0..32,767.
bool ParsePropertyDescription(std::span<const uint8_t> payload, int32_t nScreenWidth,
                              int32_t nScreenHeight, ReplicaDescription& out, std::string& reason);

struct ReplicaUpdateItem {
    uint8_t nKind = 0;
    int32_t nDecimals = 0; // at most 9
    uint32_t hWindow = 0;
    uint32_t nStyle = 0;
    uint32_t nExStyle = 0;
    int32_t nValue = 0;
};

// Reads a value update (kind 1). False when its length runs past the
// payload; a trailing partial item is left out.
bool ParsePropertyUpdate(std::span<const uint8_t> payload, std::vector<ReplicaUpdateItem>& items);

// The label of control nIndex: a button's or page's own text, else the
// text of the nearest "Static" left of it on its row under the same parent
// (a slider's or list's label); empty when it has none.
std::string ReplicaLabel(const ReplicaDescription& description, size_t nIndex);

// An edit field's text for a value with d decimals: 125 with 2 is "1.25".
std::string DecimalText(int32_t nValue, int32_t nDecimals);

} // namespace brindle
