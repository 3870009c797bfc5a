// Placeholder until the station memory sources land; removed by the first of them.
