// Placeholder until the network sources land; removed by the first of them.
