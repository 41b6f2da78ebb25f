// What differs between the two programs' image viewers. The program that
// opens a viewer implements this; the viewer calls it on the GUI thread.
#pragma once

#include "imagestore/image_path.h"
#include "imagestore/viewer/live_slot.h"

#include <memory>
#include <string>

namespace brindle {

enum class ViewerMessageIcon { kError, kWarning };

class ViewerHost {
  public:
    virtual ~ViewerHost() = default;

    // The window title (see FormatViewerTitle).
    virtual std::string Title() const = 0;
    // The key of the placement record in section "Image" (see
    // FormatPlacementKey).
    virtual std::string PlacementKey() const = 0;
    // The camera's folder tree and retention period, for listing.
    virtual ImageTree Tree() const = 0;
    virtual int RetentionDays() const = 0;
    // Caption of message boxes: "Brindle Host" or "Brindle View".
    virtual std::string Caption() const = 0;
    // 132 in BrindleHost, 136 in BrindleView.
    virtual int DateDialogId() const = 0;
    // True when the viewer writes its trace lines (BrindleView with the trace
    // bit of "Debug").
    virtual bool TraceOn() const = 0;
    // True when the desktop has a tray: minimising then hides the viewer.
    virtual bool HasTray() const = 0;

    // The placement record: the value under `key` in section "Image" of the
    // program's settings file ("" when missing), and writing it.
    virtual std::string ReadPlacement(const std::string& key) = 0;
    virtual void WritePlacement(const std::string& key, const std::string& value) = 0;

    // The viewer hands over its live slot when it opens and null when it
    // closes; the producer offers live pictures to the slot it holds.
    virtual void SetLiveSlot(std::shared_ptr<LiveFrameSlot> slot) = 0;

    // A message box over the viewer; the default shows a QMessageBox.
    virtual void ShowMessage(const std::string& caption, const std::string& text,
                             ViewerMessageIcon icon);

    // The window has closed; the entry stays.
    virtual void ViewerClosed() {}
};

// "<name>" or "<server> <name>" (server empty in BrindleHost), then " [n]"
// when the camera's duplicate number is above 1.
std::string FormatViewerTitle(const std::string& server, const std::string& name, int nDuplicate);

// The camera folder name in BrindleHost, "<server>-<camera folder>" in
// BrindleView.
std::string FormatPlacementKey(const std::string& server, const std::string& folder);

} // namespace brindle
