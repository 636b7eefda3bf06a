# The figure of bench/run: the growth of one line with its blocks, ours and
# ffmpeg's, and the whole job. Drawn from the data report.py writes:
#   gnuplot -e "data='build/bench'; out='bench/figures.svg'; ffmpeg=1; job=1" bench/figures.gp
# (ffmpeg=0 when there are no ffmpeg figures, job=0 when the whole job was
# not timed: its panel then says so).
set terminal svg size 1260,440 dynamic noenhanced font "sans,12" background "white"
set output out
set datafile missing "?"
set key top left Left reverse box opaque samplen 2
set grid
set multiplot layout 1,3

growth = data."/growth.dat"

set title "One line, ours: CPU time against blocks"
set xlabel "override blocks in the line"
set ylabel "microseconds"
set xrange [0:85000]
set yrange [0:*]
set format x "%.0s%c"
plot growth using 1:2 with linespoints lw 2 pt 7 lc "dark-violet" title '{\k20}ab', \
     growth using 1:3 with linespoints lw 2 pt 5 lc "dark-green" title '{\i1}a{\i0}b', \
     growth using 1:4 with linespoints lw 2 pt 9 lc "steelblue" title '{\c&H0000FF&}ab'

# Each time over its own time at 80,000 blocks, the steadiest of its
# measurements: a time proportional to the blocks lies on y = x / 80,000.
# ffmpeg's time is less its time for the same file with a one-block line.
set title "Each against its own time at 80,000 blocks\n(ffmpeg less its time for a one-block line)"
set ylabel "time / time at 80,000 blocks"
set yrange [*:*]  # stats reads only within the ranges set
stats growth using 2 every ::3::3 nooutput
ours80 = STATS_max
stats growth using 4 every ::3::3 nooutput
colour80 = STATS_max
if (ffmpeg) {
  stats growth using 5 every ::3::3 nooutput
  ffmpeg80 = STATS_max
}
set yrange [0:1.05]
if (ffmpeg) {
  plot x / 80000 with lines dt 2 lc "gray40" title "proportional", \
       growth using 1:($2 / ours80) with linespoints lw 2 pt 7 lc "dark-violet" \
         title 'ours, {\k20}ab', \
       growth using 1:($4 / colour80) with linespoints lw 2 pt 9 lc "steelblue" \
         title "ours, colour", \
       growth using 1:($5 / ffmpeg80) with linespoints lw 2 pt 13 lc "red" \
         title 'ffmpeg, {\k20}ab'
} else {
  plot x / 80000 with lines dt 2 lc "gray40" title "proportional", \
       growth using 1:($2 / ours80) with linespoints lw 2 pt 7 lc "dark-violet" \
         title 'ours, {\k20}ab', \
       growth using 1:($4 / colour80) with linespoints lw 2 pt 9 lc "steelblue" \
         title "ours, colour"
}

set xrange [*:*]
set yrange [*:*]
if (!job) {
  # An empty panel in the job's place, so that the other two keep their size.
  set title "Whole job, 200,000 lines to SRT\nnot timed in this run"
  unset key
  unset tics
  unset border
  unset xlabel
  unset ylabel
  set xrange [0:1]
  set yrange [0:1]
  plot -1 notitle
} else {
  stats data."/job.dat" using 2 nooutput
  wall_ratio = STATS_max / STATS_min
  stats data."/job.dat" using 3 nooutput
  cpu_ratio = STATS_max / STATS_min
  set title sprintf("Whole job, 200,000 lines to SRT\nffmpeg takes %.1fx our time (wall), %.1fx (CPU)", \
                    wall_ratio, cpu_ratio)
  set xlabel ""
  set ylabel "seconds (logarithmic)"
  set logscale y
  set yrange [0.01:*]
  set xrange [-0.6:1.6]
  set format x "%g"
  set style data histogram
  set style histogram clustered gap 1
  set style fill solid 0.8 border -1
  set boxwidth 0.9
  unset grid
  set grid ytics
  plot data."/job.dat" using 2:xtic(1) title "wall" lc "steelblue", \
       "" using 3 title "CPU" lc "orange", \
       "" using ($0 - 0.17):2:(sprintf("%.2f", $2)) with labels offset 0,0.8 font ",10" notitle, \
       "" using ($0 + 0.17):3:(sprintf("%.2f", $3)) with labels offset 0,0.8 font ",10" notitle
}
unset multiplot
