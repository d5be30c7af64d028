int bw_layout_unused;
