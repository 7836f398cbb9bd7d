#pragma once
// The client area of a headless main window as a log of what was drawn
// into it and put back, for tests that look at direct drawing.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/draw_context.h"
#include "platform/draw_surface.h"
#include "platform/frame_window.h"

class LogSurface : public platform::DrawSurface {
 public:
  class LoggingDC : public platform::RecordingDC {
   public:
    explicit LoggingDC(std::vector<std::string>& log) : log_(log) {}
    ~LoggingDC() override {
      for (const std::string& op : Describe()) log_.push_back(op);
    }

   private:
    std::vector<std::string>& log_;
  };
  explicit LogSurface(int width = 1000, int height = 700) : width_(width), height_(height) {}
  int ClientWidth() const override { return width_; }
  int ClientHeight() const override { return height_; }
  std::unique_ptr<platform::DrawContext> ClientDC() override { return std::make_unique<LoggingDC>(ops); }
  platform::Bitmap CopyPixels(int, int, int width, int height) const override {
    return platform::Bitmap(width, height);
  }
  void PastePixels(const platform::Bitmap&, int x0, int y0) override {
    pastes.push_back(std::to_string(x0) + "," + std::to_string(y0));
  }
  // The call as the recording describes it, e.g. TextOut(10,50,"6.5000    ").
  bool Drew(const std::string& op) const { return std::find(ops.begin(), ops.end(), op) != ops.end(); }
  // Any call that mentions the text, e.g. a colour "0000b4".
  bool DrewIn(const std::string& text) const {
    return std::any_of(ops.begin(), ops.end(), [&](const std::string& op) { return op.find(text) != std::string::npos; });
  }
  std::vector<std::string> ops;
  std::vector<std::string> pastes;

 private:
  int width_, height_;
};

class SurfaceFrame : public platform::HeadlessFrameWindow {
 public:
  SurfaceFrame(platform::IWindowEvents& events, LogSurface& surface) : HeadlessFrameWindow(events), surface_(surface) {}
  platform::DrawSurface* Surface() override { return &surface_; }

 private:
  LogSurface& surface_;
};
