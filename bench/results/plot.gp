set terminal pngcairo size 1100,800 font 'sans,10'
set output 'bench/results/throughput.png'
set multiplot layout 2,1 title 'Entries per second and loss against offered rate (127.0.0.1:514)'
set logscale xy
set grid
set key left top
set xlabel 'offered rate (messages/s)'
set ylabel 'entries/s (intact, in order)'
f='bench/results/steps.dat'
plot f index 0 using 1:2 with linespoints title 'ours, 100 B', f index 1 using 1:2 with linespoints title 'baseline, 100 B', f index 2 using 1:2 with linespoints title 'ours under Wine, 100 B', f index 3 using 1:2 with linespoints title 'ours, 1023 B', f index 4 using 1:2 with linespoints title 'baseline, 1023 B', f index 5 using 1:2 with linespoints title 'ours under Wine, 1023 B'
unset logscale y
set yrange [0:100]
set ylabel 'loss (%)'
plot f index 0 using 1:3 with linespoints title 'ours, 100 B', f index 1 using 1:3 with linespoints title 'baseline, 100 B', f index 2 using 1:3 with linespoints title 'ours under Wine, 100 B', f index 3 using 1:3 with linespoints title 'ours, 1023 B', f index 4 using 1:3 with linespoints title 'baseline, 1023 B', f index 5 using 1:3 with linespoints title 'ours under Wine, 1023 B'
unset multiplot
