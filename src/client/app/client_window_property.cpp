// The main window's side of the remote property dialog: the property
// button, the request slots the dialog fills, and the packets and link ends
// the connection threads hand over.
#include "client/app/client_window.h"
#include "client/app/remote_property_dialog.h"
#include "client/connections/client_context.h"
#include "client/connections/property_request.h"
#include "ui_client_window.h"

#include <mutex>

namespace brindle {

namespace {

// Requests go into the request fields of the server the dialog serves.
class PropertyRequests : public PropertyReplicaHost {
  public:
    explicit PropertyRequests(ClientContext& ctx) : ctx_(ctx) {}

    bool RequestSlotFree(const void* server) override {
        ServerParams* psp = Find(server);
        return psp != nullptr && psp->nPropertyRequest.load() == 0;
    }
    void PostRequest(const void* server, int32_t nCamera, int32_t nKind, int32_t nControlKind,
                     uint32_t hWindow, int32_t nCode, int32_t nValue,
                     const std::string& cText) override {
        if (ServerParams* psp = Find(server))
            PostPropertyRequest(ctx_, *psp, nCamera, nKind, nControlKind, hWindow, nCode, nValue,
                                cText);
    }

  private:
    // Server records live as long as the program, so the one found stays.
    ServerParams* Find(const void* server) {
        std::lock_guard<std::mutex> guard(ctx_.lock);
        for (const auto& psp : ctx_.servers)
            if (psp.get() == server)
                return psp.get();
        return nullptr;
    }
    ClientContext& ctx_;
};

} // namespace

bool ClientMainWindow::PropertyDialogOpen() const {
    return propertyDialog_ != nullptr && propertyDialog_->Replica().IsOpen();
}

void ClientMainWindow::OpenRemoteProperty() {
    ServerParams* psp = current_;
    if (psp == nullptr || runtime_ == nullptr || PropertyDialogOpen())
        return;
    ClientContext& ctx = runtime_->Context();
    {
        std::lock_guard<std::mutex> guard(ctx.lock);
        if (psp->nCurrentCamera < 0 || size_t(psp->nCurrentCamera) >= psp->cameras.size() ||
            psp->nPropertyRequest.load() != 0)
            return;
        psp->propertyRequest = PropertyRequestFields{};
        psp->nPropertyRequest.store(psp->nCurrentCamera + 1);
    }
    if (propertyDialog_ == nullptr) {
        propertyRequests_ = std::make_shared<PropertyRequests>(ctx);
        propertyDialog_ = new RemotePropertyDialog(*propertyRequests_, ClockOf(ctx), this);
        connect(propertyDialog_, &RemotePropertyDialog::Closed, this,
                &ClientMainWindow::ApplyEnabling);
    }
    propertyDialog_->OpenFor(psp, psp->IsStorageLinked());
    ApplyEnabling();
}

void ClientMainWindow::PropertyPacket(ServerParams* psp, const std::vector<uint8_t>& payload) {
    if (propertyDialog_ != nullptr && !fClosing_)
        propertyDialog_->Packet(psp, payload);
}

void ClientMainWindow::PropertyLinkDown(ServerParams* psp) {
    if (propertyDialog_ != nullptr)
        propertyDialog_->ServerGone(psp);
}

} // namespace brindle
