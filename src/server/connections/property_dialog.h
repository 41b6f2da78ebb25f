// The camera's own control dialog as a window tree, without any window
// system: built from the camera's controls, described to a client byte for
// byte, operated by the client's commands and the server's own view, and
// tracked so that every change goes back to the client as an update.
//
// Windows carry the Windows class names, style bits and 32-bit handles that
// the wire format speaks. Handles come from one process-wide counter, so a
// command that names a window of an earlier dialog never reaches a window
// of a later one.
#pragma once

#include "server/capture/capture_backend.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace brindle {

class CameraControls;

// Window style bits as the wire carries them.
inline constexpr uint32_t WS_POPUP = 0x80000000u;
inline constexpr uint32_t WS_CHILD = 0x40000000u;
inline constexpr uint32_t WS_VISIBLE = 0x10000000u;
inline constexpr uint32_t WS_DISABLED = 0x08000000u;
inline constexpr uint32_t WS_CAPTION = 0x00C00000u;
inline constexpr uint32_t WS_VSCROLL = 0x00200000u;
inline constexpr uint32_t WS_SYSMENU = 0x00080000u;
inline constexpr uint32_t WS_TABSTOP = 0x00010000u;
inline constexpr uint32_t DS_SETFONT = 0x0040u;
inline constexpr uint32_t DS_MODALFRAME = 0x0080u;
inline constexpr uint32_t DS_CONTROL = 0x0400u;
inline constexpr uint32_t BS_PUSHBUTTON = 0x0000u;
inline constexpr uint32_t BS_AUTOCHECKBOX = 0x0003u;
inline constexpr uint32_t CBS_DROPDOWNLIST = 0x0003u;
inline constexpr uint32_t ES_AUTOHSCROLL = 0x0080u;
inline constexpr uint32_t ES_READONLY = 0x0800u;
inline constexpr uint32_t TBS_AUTOTICKS = 0x0001u;
inline constexpr uint32_t TBS_VERT = 0x0002u;
inline constexpr uint32_t WS_EX_CONTROLPARENT = 0x00010000u;

// Window kinds of descriptions, updates and the tracking table.
inline constexpr uint8_t PROPERTY_KIND_OTHER = 0;
inline constexpr uint8_t PROPERTY_KIND_BUTTON = 1;
inline constexpr uint8_t PROPERTY_KIND_COMBO = 2;
inline constexpr uint8_t PROPERTY_KIND_EDIT = 3;
inline constexpr uint8_t PROPERTY_KIND_TAB = 4;
inline constexpr uint8_t PROPERTY_KIND_SLIDER = 7;

// Property commands (payload +4).
inline constexpr uint32_t PROPERTY_OPEN = 0;
inline constexpr uint32_t PROPERTY_CLICK = 3;
inline constexpr uint32_t PROPERTY_SELECT = 4;
inline constexpr uint32_t PROPERTY_TAB = 5;
inline constexpr uint32_t PROPERTY_SLIDER = 6;
// Commands 3-6 carry their operand at +28, so shorter payloads are ignored.
inline constexpr size_t PROPERTY_COMMAND_MIN = 32;

// Update kinds (payload +4 of an update).
inline constexpr uint32_t PROPERTY_UPDATE_VALUES = 1;
inline constexpr uint32_t PROPERTY_UPDATE_CLOSED = 2;
inline constexpr size_t PROPERTY_UPDATE_ITEM = 20;

// Descriptions declare L + 291 payload bytes, which clients expect.
inline constexpr uint32_t PROPERTY_DECLARED_EXTRA = 291;
// The description's own header: camera, 0, L.
inline constexpr size_t PROPERTY_DESCRIPTION_HEADER = 12;
// Texts end within the client's 260-byte fields.
inline constexpr size_t PROPERTY_TEXT_MAX = 259;
// The selected-index byte of lists and tabs; 255 also means "none".
inline constexpr int32_t PROPERTY_INDEX_NONE_BYTE = 255;

// The kind of a class name: case-insensitive substring tests in this order.
uint8_t PropertyKindOfClass(const std::string& className);

// A fresh window handle: never 0, never handed out twice in this process.
uint32_t NewPropertyHandle();

struct PropertyWindow {
    std::string cText;
    std::string cClass;
    int32_t position[4] = {}; // left, top, width, height
    int32_t client[4] = {};   // left, top, right, bottom
    uint32_t nStyle = 0;
    uint32_t nExStyle = 0;
    uint32_t hParent = 0;
    uint32_t hWindow = 0;
    uint32_t nIdentifier = 0;
    uint8_t nKind = PROPERTY_KIND_OTHER;
    // Button: check state; list: selected index (-1 none); edit: number;
    // tab control: selected tab; slider: position.
    int32_t nValue = 0;
    std::vector<std::string> items;  // list entries or tab texts
    std::vector<int32_t> itemValues; // list entry -> device value
    int32_t nMinimum = 0, nMaximum = 0, nPage = 0;
    bool fControl = false; // belongs to a device control
    uint32_t nControlId = 0;
    bool fCheckBox = false;
    // Tracking: what the client was last told, and whether that is stale.
    bool fTracked = false;
    bool fChanged = false;
    uint32_t nToldStyle = 0;
    uint32_t nToldExStyle = 0;
    int32_t nToldValue = 0;
};

class PropertyDialog {
  public:
    // Builds the dialog of camera nCamera (from 1) titled `name`: one tab
    // per control class, one row per control.
    PropertyDialog(int32_t nCamera, const std::string& name,
                   const std::vector<CaptureControl>& controls);

    int32_t Camera() const { return nCamera_; }
    const std::vector<PropertyWindow>& Windows() const { return windows_; }
    const PropertyWindow* Find(uint32_t hWindow) const;

    // The reply to an open: camera, 0, L, then the description, the whole
    // L + 291 declared bytes (unused ones zero) with L + 291 <= nPacketMax.
    // Records that do not fit are left out with everything after them, and
    // those windows are forgotten. Starts tracking. Sets fFollowUp when a
    // value could not be described exactly and an update must follow.
    std::vector<uint8_t> Describe(uint32_t nPacketMax, bool& fFollowUp);

    // Carries out command 3-6 of a payload of at least 32 bytes. Returns
    // false (nothing done) for another camera, an unknown or disabled
    // window, a window of another kind, or an index outside its list.
    bool Replay(std::span<const uint8_t> payload, CameraControls& device);

    // Operations, shared by replay and the server's own view; each returns
    // false when it cannot be carried out.
    bool Click(uint32_t hWindow, CameraControls& device);
    bool SelectEntry(uint32_t hWindow, int32_t nIndex, CameraControls& device);
    bool SelectTab(uint32_t hWindow, int32_t nIndex);
    bool SetSlider(uint32_t hWindow, int32_t nPosition, CameraControls& device);

    // Reads the controls' values and flags again and compares every window
    // with what the client was told; returns whether any is marked.
    bool Refresh(CameraControls& device);
    // Marks a window for the next update whatever its value.
    void Mark(uint32_t hWindow);
    // Appends an item per marked window and clears the marks; returns the
    // number of items.
    uint32_t TakeItems(std::vector<uint8_t>& out);

  private:
    PropertyWindow* FindMutable(uint32_t hWindow, uint8_t nKind);
    void Apply(const std::vector<CaptureControl>& controls);
    bool Track();

    int32_t nCamera_;
    std::vector<PropertyWindow> windows_; // depth first, the dialog first
};

} // namespace brindle
