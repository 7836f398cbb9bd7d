#pragma once
// What is told of a discrete-species fit's end once its checks are done:
// a Marquardt end every trial from which was rejected asked of the misfit
// itself, and a species held at, or pressed beyond, its least size.
class FitHost;

// A Marquardt end every trial from which was rejected: reached where no
// probe along the directions of uncertainty falls by a unit of chi-square
// (unless a species lies below a sphere); codeBefore is the serial fit's
// error code before the fit.
void TellRejectedEndByTheMisfit(FitHost* host, int codeBefore);
// A reached end with a species the data press beyond its least size, or
// held at the least frictional ratio, is told so.
void TellEndHeldAtTheLeastSize(FitHost* host);
