// The global-array solvers read the chosen model through one record that
// the model evaluation connects on its first grid allocation.
#include "lamm/global/global_lamm_hooks.h"

#include <gtest/gtest.h>

#include <optional>

#include "fit/lamm_grid.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"

namespace {

TEST(GlobalLammHooks, TheFirstAllocationConnectsTheLiveModelAndNothingReplacesIt) {
  LammSettings().gridSize.inUse = 50;
  ASSERT_TRUE(AllocLammArrays());
  const GlobalLammHooks& h = CurrentGlobalLammHooks();
  ASSERT_NE(h.meniscus, nullptr);

  // The hooks read the model as it is at the time of the solve.
  gModelParams.meniscus = 5.93f;
  gModelParams.bottom = 7.21f;
  EXPECT_EQ(h.meniscus(), static_cast<double>(5.93f));
  EXPECT_EQ(h.bottom(), static_cast<double>(7.21f));

  // Electrophoresis outranks the other planar cells, as its drive does.
  struct Row {
    unsigned char electrophoresis, linear, external, unitWeight, zone;
    std::optional<PlanarGeometry> planar;
  };
  const Row rows[] = {
      {0, 0, 0, 0, 0, std::nullopt},
      {1, 0, 0, 0, 0, PlanarGeometry::Electrophoresis},
      {1, 1, 1, 1, 0, PlanarGeometry::Electrophoresis},
      {0, 1, 1, 1, 0, PlanarGeometry::Linear},
      {0, 0, 1, 1, 0, PlanarGeometry::ExternalLoading},
      {0, 0, 0, 1, 1, PlanarGeometry::UnitWeight},
  };
  for (const Row& r : rows) {
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.ElectrophoresisLammModel = r.electrophoresis;
    gModelSelectorFlags.LinearLammModel = r.linear;
    gModelSelectorFlags.ExternalLoadingCellModel = r.external;
    gModelSelectorFlags.Model282 = r.unitWeight;
    gModelSelectorFlags.ZoneCentrifugationModel = r.zone;
    EXPECT_EQ(h.planarGeometry(), r.planar);
    EXPECT_EQ(h.electrophoresis(), r.electrophoresis != 0);
    EXPECT_EQ(h.zoneCentrifugation(), r.zone != 0);
  }

  // A second connection leaves the first in place.
  GlobalLammHooks other;
  other.meniscus = [] { return -1.0; };
  ConnectGlobalLammHooks(other);
  EXPECT_EQ(CurrentGlobalLammHooks().meniscus(), static_cast<double>(5.93f));

  gModelSelectorFlags = ModelSelectorFlags{};
  gModelParams = ModelParams{};
  FreeLammArrays();
  LammSettings() = LammSolverSettings{};
}

}  // namespace
