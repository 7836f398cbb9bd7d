#pragma once
// Removing a scan from the loaded set, or one point from a scan, and
// reloading the set from the working file list. No scan file is deleted:
// a scan leaves the set only, and a point is deleted in a rewritten copy
// ("_mod") unless the user lets it overwrite the scan's own file.
class TXLAWindow;

// scan is a scan index of the set. The only scan of a set is not removed.
void DeleteScanAndReload(TXLAWindow& window, int scan);
// point is 1-based; out-of-range indices do nothing.
void DeleteScanPoint(TXLAWindow& window, int scan, int point);
