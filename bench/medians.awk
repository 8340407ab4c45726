# Reads lines "NAME WALL USER SYSTEM" (one a timed run, as /usr/bin/time -f
# "%e %U %S" writes them after a name) and prints each name's median wall
# and CPU (user + system) time over its runs. With -v refs="A B", also each
# one's median wall time as a multiple of A's and of B's.
{ n[$1]++; wall[$1, n[$1]] = $2; cpu[$1, n[$1]] = $3 + $4 }
function median(a, b, k,   v, i, j, t) {
  for (i = 1; i <= k; i++) v[i] = a[b, i]
  for (i = 2; i <= k; i++)
    for (j = i; j > 1 && v[j - 1] > v[j]; j--) {
      t = v[j]; v[j] = v[j - 1]; v[j - 1] = t
    }
  return k % 2 ? v[(k + 1) / 2] : (v[k / 2] + v[k / 2 + 1]) / 2
}
END {
  count = split(refs, ref, " ")
  for (b in n) {
    w = median(wall, b, n[b])
    line = sprintf("%s: %d runs, median wall %.3f s, median CPU %.3f s",
                   b, n[b], w, median(cpu, b, n[b]))
    for (r = 1; r <= count; r++)
      line = line sprintf(", %.2f x %s", w / median(wall, ref[r], n[ref[r]]),
                          ref[r])
    print line
  }
}
