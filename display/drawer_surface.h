// A drawer's picture surface as the picture conversion sees it. Every call
// is made under the drawer's lock, which GetLock hands out.
#pragma once

#include "display/drawer.h"
#include "media/picture_conversion.h"

class CDrawerPictureSurface : public CPictureSurface {
 public:
  explicit CDrawerPictureSurface(CDDrawer &drawer) : m_drawer(drawer) {}
  CLockable *GetLock() override { return &m_drawer.GetLock(); }
  void *GetBits() override { return m_drawer.GetBits(); }
  int GetBitCount() override { return m_drawer.GetBitCount(); }
  int GetPitch() override { return m_drawer.GetPitch(); }
  int GetPixelFormat() override { return m_drawer.GetPixelFormat(); }
  int GetRows() override { return m_drawer.GetSurfaceRows(); }
  bool GetShownView(orvan::media::SurfaceView *view, orvan::media::ShownPart *part) override {
    return m_drawer.GetShownSurface(view, part);
  }

 private:
  CDDrawer &m_drawer;
};
