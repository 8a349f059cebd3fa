#include "survey/index_sort.h"

int max(int a, int b) { return a < b ? b : a; }

int min(int a, int b) { return b < a ? b : a; }

void SortHKL(int a, int b, int c, int* largest, int* middle, int* smallest)
{
    *largest = max(max(a, b), c);
    *smallest = min(min(a, b), c);
    *middle = min(max(a, b), c);
}
