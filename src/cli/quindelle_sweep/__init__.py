"""quindelle-sweep's modules: the grid and its files (common), the runs on
this machine or over ssh through GNU parallel (local), the runs as one Slurm
job array (slurm) and the program each array task runs (task)."""
