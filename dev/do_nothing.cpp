// Benchmark baseline: the cost of starting and ending a Windows program under
// the same Wine, without any work of its own.
int wmain() {
  return 0;
}
