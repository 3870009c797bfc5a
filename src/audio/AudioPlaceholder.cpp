// Placeholder until the audio sources land; removed by the first of them.
