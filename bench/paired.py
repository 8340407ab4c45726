import subprocess, sys, time, os, shutil, resource, statistics
a, b = sys.argv[1], sys.argv[2]
runs = int(sys.argv[3])
corpus = sys.argv[4] if len(sys.argv) > 4 else '/var/tmp/bench/small'
ratios = []; cpu_ratios = []; wa = []; wb = []
def run(binary):
    shutil.rmtree('/var/tmp/bench/c', ignore_errors=True)
    subprocess.run(['cp', '-al', corpus, '/var/tmp/bench/c']); subprocess.run(['sync'])
    r0 = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.monotonic()
    subprocess.run([binary, '/var/tmp/bench/c'], stdout=subprocess.DEVNULL)
    t = time.monotonic() - t0
    r1 = resource.getrusage(resource.RUSAGE_CHILDREN)
    return t, (r1.ru_utime - r0.ru_utime) + (r1.ru_stime - r0.ru_stime)
for i in range(runs):
    order = [a, b] if i % 2 == 0 else [b, a]
    res = {x: run(x) for x in order}
    wa.append(res[a]); wb.append(res[b])
    ratios.append(res[b][0] / res[a][0]); cpu_ratios.append(res[b][1] / res[a][1])
print('%s median wall %.3f cpu %.3f' % (a, statistics.median(x[0] for x in wa), statistics.median(x[1] for x in wa)))
print('%s median wall %.3f cpu %.3f' % (b, statistics.median(x[0] for x in wb), statistics.median(x[1] for x in wb)))
print('paired %s/%s: wall ratio median %.3f (q1 %.3f q3 %.3f), cpu ratio median %.3f' % (b, a, statistics.median(ratios), statistics.quantiles(ratios, n=4)[0], statistics.quantiles(ratios, n=4)[2], statistics.median(cpu_ratios)))
