#pragma once
// Quicksorts on one-based float arrays (median of three, straight insertion
// below 7 elements, the smaller partition first). Equal keys keep no order.

// indx[1..n] such that arr[indx[1]] <= arr[indx[2]] <= ...; arr unchanged.
void indexx(int n, float* arr, int* indx);
// ra sorted ascending, rb permuted alike.
void sort2(int n, float* ra, float* rb);
// ra sorted ascending, rb and rc permuted alike.
void sort3(int n, float* ra, float* rb, float* rc);
