#include "control/win32/classes.h"

#include "control/win32/callbacks.h"
#include "control/win32/dao_layout.h"
#include "control/win32/device.h"
#include "control/win32/disc_info.h"
#include "control/win32/dvd_video_image.h"
#include "control/win32/joliet_image.h"

namespace qv::control {
namespace {

const ServerClass kClasses[] = {
    {&CLSID_CDevices, "CDevices", "Quorvane.Devices.1", &CDevices::Create},
    {&CLSID_CDevice, "CDevice", "Quorvane.Device.1", &CDevice::Create},
    {&CLSID_CDiscInfo, "CDiscInfo", "Quorvane.DiscInfo.1", &CDiscInfo::Create},
    {&CLSID_CJolietImage, "CJolietImage", "Quorvane.JolietImage.1", &CJolietImage::Create},
    {&CLSID_CNode, "CNode", "Quorvane.Node.1", &CNode::Create},
    {&CLSID_CNodeDateTime, "CNodeDateTime", "Quorvane.NodeDateTime.1", &CNodeDateTime::Create},
    {&CLSID_CDVDVideoImage, "CDVDVideoImage", "Quorvane.DVDVideoImage.1", &CDVDVideoImage::Create},
    {&CLSID_CDVDVideoImage2, "CDVDVideoImage2", "Quorvane.DVDVideoImage2.1", &CDVDVideoImage2::Create},
    {&CLSID_CDAOLayout, "CDAOLayout", "Quorvane.DAOLayout.1", &CDAOLayout::Create},
    {&CLSID_CSimpleCallBack, "CSimpleCallBack", "Quorvane.SimpleCallBack.1", &CSimpleCallBack::Create},
    {&CLSID_CNotificationCallBack, "CNotificationCallBack", "Quorvane.NotificationCallBack.1",
     &CNotificationCallBack::Create},
};

}  // namespace

std::span<const ServerClass> ServerClasses() { return kClasses; }

const ServerClass* FindServerClass(REFCLSID clsid) {
  for (const ServerClass& c : kClasses)
    if (IsEqualCLSID(*c.clsid, clsid)) return &c;
  return nullptr;
}

std::string VersionIndependentProgId(const ServerClass& c) {
  std::string id = c.progId;
  const size_t dot = id.rfind('.');
  return dot == std::string::npos ? id : id.substr(0, dot);
}

}  // namespace qv::control
