#pragma once
// "number of threads for Lamm equations" is a preference of the window, but
// the solvers that honour it keep their own counts: the c(s) list of Lamm
// equations and the Lamm worker pool. Every place that sets the preference
// (preference file, "Compute With Multiple Threads", the unattended run)
// goes through here so that the solvers follow.

// Sets the Lamm-equation thread count of the window and the solvers and
// returns the count set: counts below 1 become 1 (no worker would be left
// to solve anything), counts above platform::MaxWorkerThreads() become
// that cap (the pools could not start them all).
int SetLammEquationThreads(int count);
