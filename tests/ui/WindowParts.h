#pragma once

#include "ui/ClassroomLinks.h"
#include "ui/FindBar.h"
#include "ui/MainDlg.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/WebBrowser.h"

namespace kestrel {

// The window's parts, found as its children: the window keeps them to itself.
inline CWebBrowser* BrowserOf(const CMainDlg& dlg)
{
    return dlg.findChild<CWebBrowser*>();
}
inline CToolBar* ToolBarOf(const CMainDlg& dlg)
{
    return dlg.findChild<CToolBar*>();
}
inline CStatusBar* StatusBarOf(const CMainDlg& dlg)
{
    return dlg.findChild<CStatusBar*>();
}
inline CFindBar* FindBarOf(const CMainDlg& dlg)
{
    return dlg.findChild<CFindBar*>();
}
inline CClassroomLinks* LinksOf(const CMainDlg& dlg)
{
    return dlg.findChild<CClassroomLinks*>();
}

} // namespace kestrel
