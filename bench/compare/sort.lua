local b = {}
for i = 1, 1000000 do b[#b + 1] = i * 1103 % 65537 end
table.sort(b)
print(b[1], b[500000], b[#b], #b)
