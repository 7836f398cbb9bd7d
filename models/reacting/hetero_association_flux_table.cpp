#include "models/reacting/hetero_association_flux_table.h"

#include <algorithm>
#include <cstdio>

#include "fit/lamm_grid.h"
#include "lamm/lamm_run_state.h"
#include "models/reacting/hetero_association_state.h"
#include "platform/error_box.h"
#include "platform/input_events.h"

namespace {

// The 30 rows of the flux tables: the first ten nodes, ten in the middle
// and the last ten; on a grid of fewer than 30 nodes each node once, in order.
int FluxTableRows(int N, int rows[30]) {
  const int mid = (N + 10) / 2;
  int n = 0;
  for (int i = 1; i <= 10; ++i) rows[n++] = i;
  for (int i = mid + 1; i <= mid + 10; ++i) rows[n++] = i;
  for (int i = N - 9; i <= N; ++i) rows[n++] = i;
  std::sort(rows, rows + n);
  int* end = std::unique(rows, rows + n);
  end = std::remove_if(rows, end, [N](int i) { return i < 1 || i > N; });
  return static_cast<int>(end - rows);
}

// One table row per node, the node number padded as the layout wants it.
void DrawFluxTable(bool provisional) {
  LammRunState& rs = CurrentLammRunState();
  LammProgressWindow* w = rs.progressWindow;
  if (!w) return;  // nobody to show it to, nobody to wait for
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  HeteroAssociationArrays h;
  if (!BindHeteroAssociationArrays(h)) return;
  const int N = CurrentLammGrid().AllocatedGridSize;
  const double* a = provisional ? h.cATmp : h.cA;
  const double* b = provisional ? h.cBTmp : h.cB;
  char text[512];
  std::snprintf(text, sizeof text, "%.0f sec", rs.t);
  w->DrawText(10, 50, text);
  w->DrawText(10, 70,
              provisional
                  ? "#:    -     FreeATemp -     OldA    -      FluxA     -     FreeBTemp  -     OldB     -     "
                    "FluxB    -      dFlux    -   Complex"
                  : "#:    -     FreeA    -     OldA    -      FluxA     -     FreeB     -     OldB     -      "
                    "FluxB    -      dFlux    -   Complex");
  int rows[30];
  const int n = FluxTableRows(N, rows);
  int y = 70;
  for (int r = 0; r < n; ++r) {
    y += 15;
    if (r == 10 || r == 20) y += 10;
    const int i = rows[r];
    const char* pad = i < 10 ? "__" : i < 100 ? "_" : "";
    std::snprintf(text, sizeof text,
                  "%s%d:    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f ", pad, i, a[i],
                  h.cAOld[i], h.fluxA[i], b[i], h.cBOld[i], h.fluxB[i], h.fluxA[i] - h.fluxB[i], h.cAB[i]);
    w->DrawText(10, y, text);
  }
  y += 30;
  const double amountAB = HeteroAssociationSectorAmount(h.cAB);
  const double amountA = HeteroAssociationSectorAmount(h.cA), amountB = HeteroAssociationSectorAmount(h.cB);
  std::snprintf(text, sizeof text, "sum:    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f    %3.6f", amountA,
                HeteroAssociationSectorAmount(h.cAOld), HeteroAssociationSectorAmount(h.fluxA), amountB,
                HeteroAssociationSectorAmount(h.cBOld), HeteroAssociationSectorAmount(h.fluxB), amountAB);
  w->DrawText(10, y, text);
  y += 15;
  std::snprintf(text, sizeof text, "total A  = %3.6f    total B = %3.6f; assymfact = %e", amountA + amountAB,
                amountB + amountAB, st.meanFluxDiff);
  w->DrawText(10, y, text);

  // Keys: a key pressed during the run makes the next table wait; then "r"
  // runs on, "s" stops, any other key lets this one table go.
  const WindowHolder holder = w;
  int key = ReadKeyChar(holder);
  if (!st.pauseFlag) {
    if (key != -1) st.pauseFlag = 1;
    return;
  }
  while (key == -1) {
    if (platform::StopFlag()) return;  // the mouse stops a waiting run too
    WaitSecondsOrKey(holder, 0.1f);
    key = ReadKeyChar(holder);
  }
  if (key == 'r') {
    st.pauseFlag = 0;
  } else if (key == 's') {
    st.pauseFlag = 0;
    rs.running = 0;
    platform::StopFlag() = true;
  }
}

}  // namespace

void SetHeteroAssociationPauseFlag() { CurrentHeteroAssociationState().pauseFlag = 1; }

void ShowHeteroAssociationFluxTable() { DrawFluxTable(false); }
void ShowHeteroAssociationFluxTableTemp() { DrawFluxTable(true); }
