#!/usr/bin/perl
# Writes one flat benchmark corpus and prints how many distinct contents it
# holds, which is the number of files a correct duplicate sweep leaves behind.
#
#   make_corpus.pl pairs     <dir> <count> <bytes>   count/2 identical pairs
#   make_corpus.pl distinct  <dir> <count> <bytes>   all contents different
#   make_corpus.pl small     <dir> <count> <max> <seed>
#                            sizes 1..max, about one file in ten a copy of
#                            an earlier one
#   make_corpus.pl sized-pairs <dir> <count> <max> <seed>
#                            count/2 identical pairs, each of its own size
#                            1..max: many size groups, every file a copy
#
# Only core Perl modules are used, so the benchmark runs on a bare Debian.
use strict;
use warnings;
use Digest::MD5 qw(md5);

my ($kind, $dir, $count, $bytes, $seed) = @ARGV;
die "usage: $0 pairs|distinct|small|sized-pairs <dir> <count> <bytes> [seed]\n"
    unless defined $bytes && -d $dir;

open(my $random, '<:raw', '/dev/urandom') or die "/dev/urandom: $!\n";

sub random_bytes {
    my ($length) = @_;
    my $data = '';
    while (length($data) < $length) {
        my $got = read($random, $data, $length - length($data), length($data));
        die "/dev/urandom: $!\n" unless $got;
    }
    return $data;
}

sub write_file {
    my ($name, $data) = @_;
    open(my $out, '>:raw', "$dir/$name") or die "$dir/$name: $!\n";
    print {$out} $data or die "$dir/$name: $!\n";
    close($out) or die "$dir/$name: $!\n";
}

my %seen;
if ($kind eq 'pairs') {
    for my $i (0 .. $count / 2 - 1) {
        my $data = random_bytes($bytes);
        # Separate files, never hard links: some peers skip hard links.
        write_file(sprintf('pair%05d_a.bin', $i), $data);
        write_file(sprintf('pair%05d_b.bin', $i), $data);
        $seen{ md5($data) } = 1;
    }
} elsif ($kind eq 'distinct') {
    for my $i (0 .. $count - 1) {
        my $data = random_bytes($bytes);
        write_file(sprintf('file%05d.bin', $i), $data);
        $seen{ md5($data) } = 1;
    }
} elsif ($kind eq 'small') {
    srand($seed // 1);
    # Slices of one random pool at random offsets: cheap to make, and with
    # offsets drawn from millions of positions two slices rarely agree (the
    # digest count below stays exact whatever happens).
    my $pool = random_bytes(8 * 1024 * 1024);
    my $span = length($pool) - $bytes;
    my @kept;    # [offset, size] of every file, for the copies
    for my $i (0 .. $count - 1) {
        my ($offset, $size);
        if (@kept && rand() < 0.1) {
            ($offset, $size) = @{ $kept[ int(rand(@kept)) ] };
        } else {
            ($offset, $size) = (int(rand($span)), 1 + int(rand($bytes)));
        }
        push @kept, [ $offset, $size ];
        my $data = substr($pool, $offset, $size);
        write_file(sprintf('small%06d.dat', $i), $data);
        $seen{ md5($data) } = 1;
    }
} elsif ($kind eq 'sized-pairs') {
    srand($seed // 1);
    my $pool = random_bytes(8 * 1024 * 1024);
    my $span = length($pool) - $bytes;
    for my $i (0 .. $count / 2 - 1) {
        my $data = substr($pool, int(rand($span)), 1 + int(rand($bytes)));
        # Short names: at a million files they are a tenth of the memory.
        write_file(sprintf('p%07d_a', $i), $data);
        write_file(sprintf('p%07d_b', $i), $data);
        $seen{ md5($data) } = 1;
    }
} else {
    die "unknown corpus kind: $kind\n";
}
print scalar(keys %seen), "\n";
