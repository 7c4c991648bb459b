// The one window of the updater and the two events that start everything it does: a click on "开始升级"
// installs the update package, and F2 in author mode builds and publishes one.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <windows.h>

#include "Elevation.h"
#include "FlowView.h"
#include "Handles.h"
#include "Publication.h"

class TApplication;
class TXMLDocument;
class TZipExtractor;
class TZipPacker;
namespace odbc {
class Connection;
}

// Modifier keys held with a key press.
struct TShiftState {
    bool shift = false;
    bool alt = false;
    bool ctrl = false;
};

// The window holds the window: its controls, the two events and the components it owns. The flows are classes of
// their own (InstallFlow.h, BuildFlow.h, Publication.h), which reach the window only as an IFlowView. Each event
// finds the program directory afresh and hands it to the flow it runs.
class TfrmMain : private IFlowView {
public:
    // restart: the switch this copy was started with by one that could not write here, if any.
    TfrmMain(TApplication& application, std::optional<RestartRequest> restart);
    ~TfrmMain();
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    HWND Handle() const { return handle_; }
    void Show(int showCommand);

    // Events.
    void btStartClick();
    void FormKeyDown(WORD key, TShiftState shift);

    // Asks the suite's programs to close; true when the ones that matter are gone.
    bool CloseRunningPrograms();

    // The publisher of the packages built in programDirectory: through the window's connection to the update
    // server, which stays open between builds.
    TPublication PublishPackage(const std::string& programDirectory);

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    HWND CreateControl(const wchar_t* className, const wchar_t* text, DWORD style, int id, RECT bounds);
    int Scale(int pixels) const;

    // Runs one flow; a flow that is already running makes every further request a no-op.
    template <typename Flow>
    void RunFlow(Flow&& flow);

    // IFlowView
    void SetStatus(const std::string& text) override;
    void Notify(const Notice& notice) override;
    void PaintNow() override;
    void HandOver() override;

    // The run this copy was started elevated for, once its predecessor has ended.
    void RunRequestedRun();

    TApplication& application_;
    HWND handle_ = nullptr;
    int dpi_ = USER_DEFAULT_SCREEN_DPI;
    UniqueGdi<HFONT> font_;
    UniqueGdi<HBITMAP> picture_;
    UniqueGdi<HBRUSH> background_;
    bool flowRunning_ = false;
    std::optional<RestartRequest> restart_;

    // Controls, in the order of their layout.
    HWND Label3 = nullptr;
    HWND Label2 = nullptr;
    HWND Label6 = nullptr;
    HWND Image1 = nullptr;
    HWND btStart = nullptr;
    HWND lblMessage = nullptr;

    // Components, owned for the program's lifetime.
    std::unique_ptr<TZipPacker> zipPacker;
    std::unique_ptr<TZipExtractor> zipExtractor;
    std::unique_ptr<TXMLDocument> xml;            // shared by both flows; each loads it afresh
    std::unique_ptr<odbc::Connection> cnnServer;  // the update server, kept open between publications
};
