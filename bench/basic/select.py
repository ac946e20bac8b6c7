# SELECT-heavy dispatch (an if/elif chain).
acc = 0
for i in range(1, 30000001):
    op = i % 10
    if op == 0:
        acc = acc + 1
    elif op == 1:
        acc = acc + 3
    elif op == 2 or op == 3:
        acc = acc + 2
    elif 4 <= op <= 6:
        acc = acc + i % 7
    elif op > 8:
        acc = acc ^ 5
    else:
        acc = (acc * 3 + 7) % 1000003
print(acc)
