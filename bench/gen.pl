#!/usr/bin/perl
# Writes a benchmark input of about MB megabytes to stdout.
#   gen.pl ascii    MB  - ASCII lines, mostly 10..80 characters
#   gen.pl turkish  MB  - the same shape, Turkish letters mixed with ASCII (UTF-8)
#   gen.pl long     MB  - ASCII lines of 20 000..200 000 characters
#   gen.pl records  MB  - fixed-width records of the layout 20,10,12: a name
#                         (left-aligned), an amount (right-aligned) and a city
#                         (left-aligned), filled with spaces; some names hold a
#                         comma or a double quote
#   gen.pl records-tr MB - the same with Turkish names and cities (UTF-8)
# Lines are drawn at random from a pool, written in large blocks, so that
# a few hundred megabytes take seconds.  The seed is fixed: same input every run.
use strict;
use warnings;
use utf8;

my ($kind, $mb) = @ARGV;
die "usage: gen.pl ascii|turkish|long|records|records-tr MB\n"
    unless defined $mb && $kind =~ /^(ascii|turkish|long|records|records-tr)$/;
my $target = int($mb * 1_000_000);
srand(20240607);
binmode STDOUT;

my @ascii = ('a' .. 'z', 'A' .. 'Z', '0' .. '9', (' ') x 8, '.', ',', '-', ';', ':', '/');
# Turkish alphabet (with its dotless and dotted i) plus digits and punctuation.
my @turkish = (
    split(//, "abcçdefgğhıijklmnoöprsştuüvyz"),
    split(//, "ABCÇDEFGĞHIİJKLMNOÖPRSŞTUÜVYZ"),
    '0' .. '9', (' ') x 8, '.', ',', '-',
);

sub random_text {
    my ($alphabet, $len) = @_;
    return join '', map { $alphabet->[rand @$alphabet] } 1 .. $len;
}

# Line length: 95% uniform in 10..80, 5% short (0..9) so that padding and
# empty pieces occur too.
sub short_len { return rand() < 0.05 ? int(rand 10) : 10 + int(rand 71) }

my $written = 0;
if ($kind eq 'long') {
    my $base = random_text(\@ascii, 1 << 20);
    my $block = '';
    while ($written < $target) {
        my $len = 20_000 + int(rand 180_001);
        my $line = substr($base, int(rand(length($base) - $len)), $len) . "\n";
        print $line;
        $written += length $line;
    }
    exit 0;
}

if ($kind =~ /^records/) {
    my $tr = $kind eq 'records-tr';
    my @letters = $tr ? split(//, "abcçdefgğhıijklmnoöprsştuüvyz") : ('a' .. 'z');
    my $word = sub { my $w = random_text(\@letters, 2 + int(rand 7)); return ucfirst $w };
    my @pool;
    for (1 .. 50_000) {
        my $name = $word->() . ' ' . $word->();
        my $r = rand();
        $name = $word->() . ', ' . $word->() if $r < 0.05;      # a comma: quoted in CSV
        $name = $word->() . ' "' . $word->() . '"' if $r > 0.97; # quotes: doubled in CSV
        $name = substr($name, 0, 20);
        $name =~ s/ +$//;
        my $amount = int(rand 1_000_000) . ',' . sprintf('%02d', int(rand 100));
        my $city = substr($word->() . ($r < 0.3 ? ' ' . $word->() : ''), 0, 12);
        $city =~ s/ +$//;
        my $line = sprintf("%-20s%10s%-12s\n", $name, $amount, $city);
        utf8::encode($line) if $tr;
        push @pool, $line;
    }
    while ($written < $target) {
        my $block = join '', map { $pool[rand @pool] } 1 .. 20_000;
        print $block;
        $written += length $block;
    }
    exit 0;
}

my $alphabet = $kind eq 'turkish' ? \@turkish : \@ascii;
my @pool;
for (1 .. 50_000) {
    my $line = random_text($alphabet, short_len()) . "\n";
    utf8::encode($line) if $kind eq 'turkish';
    push @pool, $line;
}
while ($written < $target) {
    my $block = join '', map { $pool[rand @pool] } 1 .. 20_000;
    print $block;
    $written += length $block;
}
