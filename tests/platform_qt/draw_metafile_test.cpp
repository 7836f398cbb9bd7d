#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/bitmap.h"
#include "platform/clipboard.h"
#include "platform/metafile.h"

using namespace platform;

TEST(DrawObjects, SelectedObjectCannotBeDeletedUntilDeselected) {
  const int before = LiveGdiObjectCount();
  HPEN pen = CreatePen(PS_SOLID, 0, 0x123456);
  {
    RecordingDC dc;
    HGDIOBJ old = dc.SelectObject(pen);
    EXPECT_EQ(old, GetStockObject(BLACK_PEN));
    EXPECT_FALSE(DeleteObject(pen));
    dc.SelectObject(old);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_FALSE(DeleteObject(pen));
  }
  EXPECT_EQ(LiveGdiObjectCount(), before);
  EXPECT_TRUE(DeleteObject(GetStockObject(NULL_BRUSH)));  // stock objects stay
  EXPECT_EQ(LookupObject(GetStockObject(NULL_BRUSH)).brush.style, BS_NULL);
}

TEST(DrawObjects, SaveAndRestoreBringBackSelectionsAndPosition) {
  RecordingDC dc;
  dc.MoveTo(3, 4);
  int level = dc.SaveDC();
  dc.SelectObject(GetStockObject(NULL_PEN));
  dc.SetTextAlign(TA_UPDATECP);
  dc.MoveTo(9, 9);
  EXPECT_TRUE(dc.RestoreDC(level));
  EXPECT_EQ(dc.CurrentPen(), GetStockObject(BLACK_PEN));
  EXPECT_EQ(dc.GetTextAlign(), TA_LEFT | TA_TOP);
  EXPECT_EQ(dc.GetCurrentPosition(), (Point{3, 4}));
  EXPECT_FALSE(dc.RestoreDC(1));
}

TEST(Metafile, RecordsCallsWithObjectDescriptions) {
  MetafileDC rec;
  rec.SetWindowExt(1399, 1000);
  HBRUSH brush = CreateSolidBrush(0x0000ff);
  rec.SelectObject(brush);
  rec.Ellipse(1, 2, 3, 4);
  rec.SelectObject(GetStockObject(NULL_BRUSH));
  DeleteObject(brush);
  rec.TextOut(5, 6, "2.5");
  HMETAFILE mf = rec.Close();
  EXPECT_EQ(rec.Close(), 0u);
  auto data = MetafileContents(mf);
  ASSERT_TRUE(data);
  std::vector<std::string> got;
  for (const auto& op : data->Ops()) got.push_back(DescribeOp(op));
  EXPECT_EQ(got, (std::vector<std::string>{"SetWindowExt(1399,1000)", "SelectBrush(0x0000ff)", "Ellipse(1,2,3,4)",
                                           "SelectBrush(null)", "TextOut(5,6,\"2.5\")"}));
  EXPECT_EQ(MetafileWindowExt(*data), (Size{1399, 1000}));
  DeleteMetaFile(mf);
}

// A picture far larger than one storage block, of calls with values of
// every sign, zero and extreme, and calls that carry points, texts, objects
// and clip rectangles between them: the metafile gives back every call as
// a plain recording saw it, and replays it call for call.
TEST(Metafile, LargePictureKeepsEveryCallExactly) {
  MetafileDC rec;
  RecordingDC plain;
  HPEN pen = CreatePen(PS_DOT, 2, 0x0a0b0c);
  auto both = [&](auto call) {
    call(static_cast<DrawContext&>(rec));
    call(static_cast<DrawContext&>(plain));
  };
  both([](DrawContext& dc) { dc.SetWindowExt(1399, 1000); });
  for (int k = 0; k < 60000; ++k) {
    const int x = (k * 7919) % 3001 - 1500, y = k % 5 == 0 ? 0 : -k;
    both([&](DrawContext& dc) { dc.MoveTo(x, y); });
    both([&](DrawContext& dc) { dc.Ellipse(x - 3, y - 3, x + 3, 0); });
    both([&](DrawContext& dc) { dc.LineTo(k % 3 == 0 ? INT_MIN : x + 1, k % 4 == 0 ? INT_MAX : y); });
    if (k % 9999 == 0) {
      both([&](DrawContext& dc) { dc.SelectObject(pen); });
      both([&](DrawContext& dc) { dc.TextOut(x, y, std::to_string(k)); });
      both([&](DrawContext& dc) { dc.Polyline({{x, y}, {0, 0}, {-x, y}}); });
      const Rect clip{1, -2, 3, 4};
      both([&](DrawContext& dc) { dc.ExtTextOut(x, y, ETO_CLIPPED, &clip, "clipped"); });
      both([&](DrawContext& dc) { dc.SetTextColor(0xffffff); });
      both([&](DrawContext& dc) { dc.SelectObject(GetStockObject(BLACK_PEN)); });
    }
  }
  HMETAFILE mf = rec.Close();
  DeleteObject(pen);
  auto data = MetafileContents(mf);
  ASSERT_TRUE(data);
  const std::vector<DrawOp> got = data->Ops();
  ASSERT_EQ(got.size(), plain.Ops().size());
  ASSERT_EQ(data->size(), got.size());
  for (size_t i = 0; i < got.size(); ++i) {
    const DrawOp& a = got[i];
    const DrawOp& b = plain.Ops()[i];
    ASSERT_TRUE(a.kind == b.kind && a.a == b.a && a.b == b.b && a.c == b.c && a.d == b.d && a.flags == b.flags &&
                a.handle == b.handle && a.points == b.points && a.text == b.text)
        << i << ": " << DescribeOp(a) << " against " << DescribeOp(b);
    ASSERT_EQ(DescribeOp(a), DescribeOp(b)) << i;
  }
  RecordingDC target;
  ASSERT_TRUE(PlayMetaFile(target, mf));
  const std::vector<std::string> replayed = target.Describe();
  ASSERT_EQ(replayed.size(), got.size() + 2);  // inside SaveDC and RestoreDC
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(replayed[i + 1], DescribeOp(got[i])) << i;
  DeleteMetaFile(mf);
}

TEST(Metafile, CopiesAreIndependentAndDoubleDeletesAreCaught) {
  MetafileDC rec;
  rec.MoveTo(1, 1);
  HMETAFILE a = rec.Close();
  HMETAFILE b = CopyMetaFile(a);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  const int invalid = InvalidMetafileDeletes();
  EXPECT_TRUE(DeleteMetaFile(a));
  EXPECT_FALSE(DeleteMetaFile(a));
  EXPECT_FALSE(DeleteMetaFile(0));
  EXPECT_EQ(InvalidMetafileDeletes(), invalid + 2);
  ASSERT_TRUE(MetafileContents(b));
  EXPECT_EQ(MetafileContents(b)->size(), 1u);
  EXPECT_TRUE(DeleteMetaFile(b));
  EXPECT_EQ(CopyMetaFile(b), 0u);
}

TEST(Metafile, ReplayReissuesTheRecordedCalls) {
  MetafileDC rec;
  HPEN pen = CreatePen(PS_SOLID, 0, 0x00ff00);
  rec.SelectObject(pen);
  rec.MoveTo(1, 2);
  rec.LineTo(3, 4);
  rec.SelectObject(GetStockObject(BLACK_PEN));
  DeleteObject(pen);
  HMETAFILE mf = rec.Close();
  const int objects = LiveGdiObjectCount();
  RecordingDC target;
  target.MoveTo(7, 7);
  ASSERT_TRUE(PlayMetaFile(target, mf));
  EXPECT_EQ(target.Describe(),
            (std::vector<std::string>{"MoveTo(7,7)", "SaveDC", "SelectPen(0,0,0x00ff00)", "MoveTo(1,2)",
                                      "LineTo(3,4)", "SelectPen(0,0,0x000000)", "RestoreDC(1)"}));
  EXPECT_EQ(target.GetCurrentPosition(), (Point{7, 7}));
  EXPECT_EQ(LiveGdiObjectCount(), objects);
  DeleteMetaFile(mf);
  EXPECT_FALSE(PlayMetaFile(target, mf));
}

TEST(Bitmap, BmpFileIs24BitBottomUpAndRoundTrips) {
  Bitmap bm(3, 2);
  bm.SetPixel(0, 0, RGB(255, 0, 0));
  bm.SetPixel(2, 1, RGB(1, 2, 3));
  bm.SetPixel(5, 5, 0);  // outside: ignored
  std::string path = (std::filesystem::temp_directory_path() /
                      ("draw_metafile_test_" + std::to_string(getpid()) + ".bmp"))
                         .string();
  ASSERT_TRUE(SaveBmp(bm, path));
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // 54-byte header, rows padded to 12 bytes, bottom row first, BGR order.
  ASSERT_EQ(bytes.size(), 54u + 2 * 12);
  EXPECT_EQ(bytes[28], 24);
  EXPECT_EQ(bytes[22], 2);  // positive height: bottom-up
  EXPECT_EQ(bytes[54 + 6], 3);
  EXPECT_EQ(bytes[54 + 7], 2);
  EXPECT_EQ(bytes[54 + 8], 1);
  EXPECT_EQ(bytes[54 + 12 + 2], 255);  // top row, red pixel: B, G, R
  Bitmap back;
  ASSERT_TRUE(LoadBmp(path, back));
  EXPECT_EQ(back, bm);
  std::remove(path.c_str());
  EXPECT_FALSE(SaveBmp(Bitmap(), path));
}

TEST(Clipboard, MemoryClipboardKeepsLastContentOrRefuses) {
  MemoryClipboard cb;
  SetClipboard(&cb);
  EXPECT_TRUE(Clipboard().SetText("a\tb\n"));
  EXPECT_EQ(cb.content, MemoryClipboard::Content::Text);
  EXPECT_TRUE(Clipboard().SetBitmap(Bitmap(2, 2)));
  EXPECT_EQ(cb.content, MemoryClipboard::Content::Bitmap);
  EXPECT_TRUE(cb.text.empty());
  cb.refuseOpen = true;
  EXPECT_FALSE(Clipboard().SetText("x"));
  EXPECT_EQ(cb.content, MemoryClipboard::Content::Bitmap);
  SetClipboard(nullptr);
}
