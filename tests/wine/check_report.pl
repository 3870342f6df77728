#!/usr/bin/perl
# Checks the console output of exegfx.exe as Windows writes it (text mode, so
# every line ends in CR LF).
#   check_report.pl run <stdout file>      the report, both shader programs, progress
#   check_report.pl failure <stdout file>  lines 1 to 13 and nothing else
# Prints the adapter line it found; exits 1 with the reason on any difference.
use strict;
use warnings;

my ($mode, $file) = @ARGV;
die "usage: check_report.pl run|failure <file>\n"
  unless defined $file && ($mode eq 'run' || $mode eq 'failure');
open my $fh, '<:raw', $file or die "cannot read $file: $!\n";
my $out = do { local $/; <$fh> };
close $fh;

sub crlf { my $t = shift; $t =~ s/\n/\r\n/g; return $t; }

sub visible {
  my $t = shift;
  $t =~ s/\r/\\r/g;
  $t =~ s/\n/\\n\n/g;
  return $t;
}

sub fail {
  my ($why, $at) = @_;
  print STDERR "FAIL: $why\n";
  print STDERR "---- output from there (\\r and \\n shown) ----\n", visible(substr($at, 0, 1500)),
    "\n----\n"
    if defined $at;
  exit 1;
}

my $banner = crlf(<<'EOT');
 ___      ___                      __
 \  \    /  / __  __  _ ____   ___/ /
  \  \  /  / / / / / / '__  \ / __  /
   \  \/  / / /_/ / / /  / / / /_/ /
    \____/  \____/ /_/  /_/  \____/
   ~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~

-={ zorvane basecode 2024-08-04 }=-
-={         Vund / NoXA         }=-

EOT
my $config = crlf(<<'EOT');
 Render resolution: 1920 x 1080
  Max precalc time: 60.00 secs
        Max frames: 2048
            Limits: NOT enforced
EOT
my $compiling = crlf("\nCompiling shaders...\n");
my $rendering = crlf("\nRendering (Close this window or Esc on render window to abort)\n\n");

# Lines 1 to 8, then the adapter line (a name, or "Unknown!"), then 10 to 13.
substr($out, 0, length $banner) eq $banner or fail('banner (lines 1 to 8) differs', $out);
my $rest = substr($out, length $banner);
$rest =~ /\A(     What's inside: ([^\r\n]+))\r\n/
  or fail('line 9 is not "     What\'s inside: <adapter>"', $rest);
my ($line9, $adapter) = ($1, $2);
print $adapter eq 'Unknown!' ? "line 9b: $line9\n" : "line 9a: $line9\n";
$rest = substr($rest, $+[0]);
substr($rest, 0, length $config) eq $config or fail('lines 10 to 13 differ', $rest);
$rest = substr($rest, length $config);

if ($mode eq 'failure') {
  $rest eq '' or fail('output goes on after line 13 although the window failed', $rest);
  print "report: lines 1 to 13 only\n";
  exit 0;
}

substr($rest, 0, length $compiling) eq $compiling
  or fail('"Compiling shaders..." does not follow line 13', $rest);
$rest = substr($rest, length $compiling);
$rest =~ /\AShader prog (-?\d+): OK\r\nShader prog (-?\d+): OK\r\n/
  or fail('the two shader reports are not both "Shader prog N: OK"', $rest);
print "shaders: programs $1 and $2 OK\n";
$rest = substr($rest, $+[0]);
substr($rest, 0, length $rendering) eq $rendering
  or fail('the "Rendering" line does not follow the shader reports', $rest);
$rest = substr($rest, length $rendering);

# Progress: one mark per frame, an fps line after every 40th, at most one
# limit message (limits not enforced: marks go on after it).
my ($frames, $limits) = (0, 0);
pos($rest) = 0;
while (pos($rest) < length $rest) {
  my $at = pos($rest);
  if ($rest =~ /\G\./gc) {
    ++$frames;
  } elsif ($rest =~ /\G \[(\d+), \d+\.\d{3} fps\]\r\n/gc) {
    ($1 == $frames && $frames % 40 == 0)
      or fail("fps line for frame $1 after $frames marks", substr($rest, $at));
  } elsif ($rest =~ m{\G\r\n\[LIMIT HIT: (\d+)/2048 frames, \d+\.\d{2}/60\.00 secs\]\r\n}gc) {
    ($1 == $frames && ++$limits == 1)
      or fail("limit message at frame $1 after $frames marks", substr($rest, $at));
  } else {
    fail("unexpected progress output after $frames marks", substr($rest, $at));
  }
}
$frames > 0 or fail('no progress mark after the "Rendering" line', $rest);
print "progress: $frames marks\n";
exit 0;
