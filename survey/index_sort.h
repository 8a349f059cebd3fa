// Small integer routines of the survey driver: the larger and smaller of two indices, and the
// order of the three index bounds.
#pragma once

int max(int a, int b);
int min(int a, int b);

// largest = max(max(a, b), c), smallest = min(min(a, b), c), middle = min(max(a, b), c).
// The middle value is this formula, not the median of the three.
void SortHKL(int a, int b, int c, int* largest, int* middle, int* smallest);
