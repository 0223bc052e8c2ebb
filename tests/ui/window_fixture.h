// Fixture for window tests: a real main window on loopback endpoints, a
// simulator answering it, and the seam answering message boxes and forms.
#pragma once

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <functional>
#include <memory>

#include "devicelist.h"
#include "dialogbase.h"
#include "engine.h"
#include "mainwindow.h"
#include "loopback_peer.h"
#include "loopback_rig.h"
#include "resource.h"
#include "uiseam.h"

inline int Count(const QString& haystack, const QString& needle)
{
    return static_cast<int>(haystack.count(needle));
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        UiSeam::ClearCalls();
        UiSeam::SetAnswerer([this](const SeamCall& call) {
            if (call.kind == SeamCall::Modal)
                return onModal ? onModal(call) : IDCANCEL;
            if (call.kind == SeamCall::SaveFile)
                return onSaveFile ? onSaveFile(call) : IDCANCEL;
            if (call.kind == SeamCall::Confirm)
                return onConfirm ? onConfirm(call) : IDCANCEL;
            return onMessage ? onMessage(call) : IDOK;
        });
    }

    void TearDown() override
    {
        dlg_.reset();   // the destroy handling stops the worker and closes the transport
        rig_.reset();
        UiSeam::SetAnswerer(nullptr);
        UiSeam::ClearCalls();
        ClearBusyFlg();
        ClearStopRecvFlg();
        ClearRecvEvent();
    }

    // Opens the window against a simulator with these devices.
    void Open(std::vector<devsim::Device> devices,
              devsim::Options options = testrig::LoopbackSimOptions())
    {
        rig_ = std::make_unique<testrig::SimRig>(std::move(devices), options);
        ASSERT_TRUE(rig_->ok());
        dlg_ = std::make_unique<CKestrelDlg>(nullptr, rig_->Endpoints());
        dlg_->EnsureInitialized();
        rig_->StartReplyingTo(GetRecvPort());
        dlg_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg_.get()));
    }

    // Opens the window against a bare loopback socket that plays the devices:
    // the test reads each request's bytes and answers by hand.
    void OpenOnPeer(testrig::LoopbackPeer& peer)
    {
        UdpEndpoints ep;
        ep.sendAddress = "127.0.0.1";
        ep.sendPort = peer.port();
        ep.recvAddress = "127.0.0.1";
        ep.recvPort = 0;
        dlg_ = std::make_unique<CKestrelDlg>(nullptr, ep);
        dlg_->EnsureInitialized();
        dlg_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg_.get()));
    }

    // Makes the window the active one, so that its shortcuts and mnemonics work.
    void Activate()
    {
        dlg_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dlg_.get()));
    }

    template <class T>
    T* Ctl(int id) const
    {
        T* w = GetDlgItem<T>(dlg_.get(), id);
        EXPECT_NE(w, nullptr) << "control " << id;
        return w;
    }
    QPushButton* Button(int id) const { return Ctl<QPushButton>(id); }
    QLineEdit* Edit(int id) const { return Ctl<QLineEdit>(id); }
    CDeviceListCtrl* List() const { return Ctl<CDeviceListCtrl>(IDC_LST_DEVICE); }
    QString Log() const { return Ctl<CMultiLineEdit>(IDC_EDT_STATUS)->GetWindowText(); }
    QString ConfigBox() const { return Ctl<CMultiLineEdit>(IDC_EDT_CONFIG)->GetWindowText(); }
    QString BusyText() const { return Edit(IDC_EDT_BUSY)->text(); }

    void Click(int id) { QTest::mouseClick(Button(id), Qt::LeftButton); }
    void SetTimeoutText(const QString& t) { Edit(IDC_EDT_TIMEOUT)->setText(t); }

    // Clicks a list row where a user would, pointer first.
    void ClickRow(int row, bool twice = false)
    {
        CDeviceListCtrl* list = List();
        const QRect r = list->visualItemRect(list->topLevelItem(row));
        QTest::mouseMove(list->viewport(), r.center());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
        if (twice) {
            // A real double-click: press, release, double-click, release.
            // (QTest::mouseDClick alone sends only the double-click event.)
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, r.center());
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, r.center());
        }
    }

    // Lets the window run until it shows "Idle" again.
    bool WaitIdle(int timeoutMs = 8000)
    {
        return QTest::qWaitFor([this] { return BusyText() == QLatin1String("Idle"); }, timeoutMs);
    }

    // A form or box opened over the main window is a modal dialog, transient
    // for the main window, so the window manager keeps it on top of it.
    void ExpectModalOverMainWindow(const QDialog* box) const
    {
        EXPECT_EQ(box->windowType(), Qt::Dialog);
        EXPECT_TRUE(box->isModal());
        EXPECT_EQ(box->windowModality(), Qt::ApplicationModal);
        const QWindow* w = box->windowHandle();
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->isModal());
        EXPECT_EQ(w->transientParent(), dlg_->windowHandle());
    }

    // Message boxes shown since the last ClearCalls.
    std::vector<SeamCall> Messages() const
    {
        std::vector<SeamCall> out;
        for (const SeamCall& c : UiSeam::Calls())
            if (c.kind == SeamCall::Message)
                out.push_back(c);
        return out;
    }

    std::function<int(const SeamCall&)> onModal;
    std::function<int(const SeamCall&)> onMessage;
    std::function<int(const SeamCall&)> onSaveFile;
    std::function<int(const SeamCall&)> onConfirm;   // unanswered: Cancel
    std::unique_ptr<testrig::SimRig> rig_;
    std::unique_ptr<CKestrelDlg> dlg_;
};
