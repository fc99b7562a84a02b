<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru">
<context>
    <name>AskQuestion</name>
    <message>
        <source>&amp;Yes</source>
        <translation>&amp;Да</translation>
    </message>
    <message>
        <source>&amp;No</source>
        <translation>&amp;Нет</translation>
    </message>
</context>
<context>
    <name>PortFailure</name>
    <message>
        <source>&quot;%1&quot; names no serial port</source>
        <translation>нет последовательного порта «%1»</translation>
    </message>
    <message>
        <source>no such device: %1 does not exist (is the adapter plugged in?)</source>
        <translation>нет такого устройства: %1 (адаптер подключён?)</translation>
    </message>
    <message>
        <source>no such device: %1 does not exist. The USB serial adapter %2 is plugged in but has no serial port: another program (brltty) may have claimed it. Run &apos;irdload-cli doctor&apos; for the command that frees it.</source>
        <translation>нет такого устройства: %1. USB-адаптер %2 подключён, но последовательного порта у него нет: возможно, его захватила другая программа (brltty). Команду, которая его освободит, покажет «irdload-cli doctor».</translation>
    </message>
    <message>
        <source>the port %1 is busy: another program holds it. Close that program and try again.</source>
        <translation>порт %1 занят другой программой. Закройте её и повторите попытку.</translation>
    </message>
    <message>
        <source>the port %1 is busy: another program holds it (%2). Close that program and try again.</source>
        <translation>порт %1 занят другой программой (%2). Закройте её и повторите попытку.</translation>
    </message>
    <message>
        <source>permission denied: this user may not open %1. Add the user to the &apos;%2&apos; group (sudo usermod -aG %2 $USER), then log out and in again.</source>
        <translation>нет доступа: этому пользователю нельзя открыть %1. Добавьте пользователя в группу «%2» (sudo usermod -aG %2 $USER), затем выйдите из системы и войдите снова.</translation>
    </message>
    <message>
        <source>%1; no such port on this PC (irdload-cli ports lists them)</source>
        <translation>%1; такого порта на этом ПК нет (список портов: irdload-cli ports)</translation>
    </message>
    <message>
        <source>%1; another program may have the port open</source>
        <translation>%1; возможно, порт открыт другой программой</translation>
    </message>
    <message>
        <source>%1 (pid %2, this program)</source>
        <translation>%1 (pid %2, эта программа)</translation>
    </message>
    <message>
        <source>%1 (pid %2)</source>
        <translation>%1 (pid %2)</translation>
    </message>
</context>
<context>
    <name>irdload::ui::MainDialog</name>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Закрыть</translation>
    </message>
    <message>
        <source>&amp;Station...</source>
        <translation>&amp;Станция...</translation>
    </message>
    <message>
        <source>%1 is being sent to the IRD: packet %2 of %3 (%4%).</source>
        <translation>Файл %1 передаётся в IRD: пакет %2 из %3 (%4%).</translation>
    </message>
    <message>
        <source>%1 is being sent to the IRD.</source>
        <translation>Файл %1 передаётся в IRD.</translation>
    </message>
    <message>
        <source>Ending now leaves the receiver with an incomplete image. Stop the download and close?</source>
        <translation>Если закрыть сейчас, в приёмнике останется неполная прошивка. Остановить передачу и закрыть?</translation>
    </message>
</context>
<context>
    <name>irdload::ui::PortList</name>
    <message>
        <source>Not connected now: %1</source>
        <translation>Сейчас не подключён: %1</translation>
    </message>
</context>
<context>
    <name>irdload::ui::StationTile</name>
    <message>
        <source>Waiting for the adapter</source>
        <translation>Ожидание адаптера</translation>
    </message>
    <message>
        <source>Waiting for the next unit</source>
        <translation>Ожидание следующего приёмника</translation>
    </message>
    <message>
        <source>Waiting for the unit&apos;s id</source>
        <translation>Ожидание номера приёмника</translation>
    </message>
    <message>
        <source>Calling the IRD</source>
        <translation>Вызов IRD</translation>
    </message>
    <message>
        <source>Sending the header</source>
        <translation>Передача заголовка</translation>
    </message>
    <message>
        <source>Loading</source>
        <translation>Загрузка</translation>
    </message>
    <message>
        <source>Finishing</source>
        <translation>Завершение</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Готово</translation>
    </message>
    <message>
        <source>Halted</source>
        <translation>Остановлено из-за ошибки</translation>
    </message>
    <message>
        <source>Press Start to load a unit</source>
        <translation>Нажмите «Пуск», чтобы загрузить приёмник</translation>
    </message>
    <message>
        <source>Press Start for the next unit</source>
        <translation>Нажмите «Пуск» для следующего приёмника</translation>
    </message>
    <message>
        <source>Replug the adapter for the next unit, or press Start</source>
        <translation>Переподключите адаптер для следующего приёмника или нажмите «Пуск»</translation>
    </message>
    <message>
        <source>Waiting for the IRD to go quiet, or press Start</source>
        <translation>Ожидание, пока IRD замолчит, или нажмите «Пуск»</translation>
    </message>
    <message>
        <source>the IRD reported failure</source>
        <translation>IRD сообщил об ошибке</translation>
    </message>
    <message>
        <source>out of step with the IRD</source>
        <translation>рассогласование с IRD</translation>
    </message>
    <message>
        <source>the header was refused</source>
        <translation>заголовок отклонён</translation>
    </message>
    <message>
        <source>a packet was refused</source>
        <translation>пакет отклонён</translation>
    </message>
    <message>
        <source>the second file did not load</source>
        <translation>второй файл не загрузился</translation>
    </message>
    <message>
        <source>the adapter was disconnected</source>
        <translation>адаптер отключён</translation>
    </message>
    <message>
        <source>the IRD did not hear the answers</source>
        <translation>IRD не слышит ответов</translation>
    </message>
    <message>
        <source>Loaded</source>
        <translation>Загружен</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Остановлен</translation>
    </message>
    <message>
        <source>No adapter</source>
        <translation>Нет адаптера</translation>
    </message>
    <message>
        <source>Waiting</source>
        <translation>Ожидание</translation>
    </message>
    <message>
        <source>Scan or type the unit&apos;s id</source>
        <translation>Отсканируйте или введите номер приёмника</translation>
    </message>
    <message>
        <source>%1 file %2 of %3</source>
        <translation>%1: файл %2 из %3</translation>
    </message>
    <message>
        <source>Halted: %1</source>
        <translation>Остановлено из-за ошибки: %1</translation>
    </message>
    <message>
        <source>Packets %1 of %2</source>
        <translation>Пакеты: %1 из %2</translation>
    </message>
    <message>
        <source>%1 KiB/s</source>
        <translation>%1 КиБ/с</translation>
    </message>
    <message>
        <source>%1 left</source>
        <translation>осталось %1</translation>
    </message>
    <message>
        <source>Loaded %1 · Failed %2 · Stopped %3</source>
        <translation>Загружено %1 · Ошибок %2 · Остановлено %3</translation>
    </message>
    <message>
        <source>unit %1</source>
        <translation>приёмник %1</translation>
    </message>
    <message>
        <source>No IRD answered</source>
        <translation>IRD не ответил</translation>
    </message>
    <message>
        <source>Loaded %1</source>
        <translation>Загружен: %1</translation>
    </message>
    <message>
        <source>Stopped %1</source>
        <translation>Остановлен: %1</translation>
    </message>
    <message>
        <source>No response from %1</source>
        <translation>Нет ответа: %1</translation>
    </message>
    <message>
        <source>Failed %1: %2</source>
        <translation>Ошибка: %1: %2</translation>
    </message>
    <message>
        <source>Failed %1</source>
        <translation>Ошибка: %1</translation>
    </message>
    <message>
        <source>%1, trying again</source>
        <translation>%1, повтор</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Пуск</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Стоп</translation>
    </message>
    <message>
        <source>Load the unit on this socket</source>
        <translation>Загрузить приёмник на этом гнезде</translation>
    </message>
    <message>
        <source>End this socket&apos;s unit now; it is counted as stopped</source>
        <translation>Прервать загрузку на этом гнезде; она будет учтена как остановленная</translation>
    </message>
    <message>
        <source>Last: %1</source>
        <translation>Последний: %1</translation>
    </message>
</context>
<context>
    <name>irdload::ui::StationWindow</name>
    <message>
        <source>irdload station</source>
        <translation>Станция irdload</translation>
    </message>
    <message>
        <source>Choose...</source>
        <translation>Выбрать...</translation>
    </message>
    <message>
        <source>no records</source>
        <translation>без отчётов</translation>
    </message>
    <message>
        <source>Browse...</source>
        <translation>Обзор...</translation>
    </message>
    <message>
        <source>Start button</source>
        <translation>Кнопка «Пуск»</translation>
    </message>
    <message>
        <source>Adapter replugged</source>
        <translation>Переподключение адаптера</translation>
    </message>
    <message>
        <source>IRD quiet for 5 s</source>
        <translation>Тишина IRD 5 с</translation>
    </message>
    <message>
        <source>Ask for each unit&apos;s id</source>
        <translation>Спрашивать номер каждого приёмника</translation>
    </message>
    <message>
        <source>scan or type, then Enter</source>
        <translation>отсканируйте или введите, затем Enter</translation>
    </message>
    <message>
        <source>Upgrade:</source>
        <translation>Прошивка:</translation>
    </message>
    <message>
        <source>Report folder:</source>
        <translation>Папка отчётов:</translation>
    </message>
    <message>
        <source>Next unit:</source>
        <translation>Следующий приёмник:</translation>
    </message>
    <message>
        <source>Unit id:</source>
        <translation>Номер приёмника:</translation>
    </message>
    <message>
        <source>Sockets</source>
        <translation>Гнёзда</translation>
    </message>
    <message>
        <source>Virtual IRDs:</source>
        <translation>Виртуальные IRD:</translation>
    </message>
    <message>
        <source>Start all</source>
        <translation>Запустить все</translation>
    </message>
    <message>
        <source>Stop all</source>
        <translation>Остановить все</translation>
    </message>
    <message>
        <source>Start the station and give every waiting socket its go</source>
        <translation>Запустить станцию и дать команду всем ожидающим гнёздам</translation>
    </message>
    <message>
        <source>End every running unit now; they are counted as stopped</source>
        <translation>Прервать все идущие загрузки; они будут учтены как остановленные</translation>
    </message>
    <message>
        <source>Choose the upgrade: a .uuc file, or a .u01 file and its .u02</source>
        <translation>Выберите прошивку: файл .uuc или файл .u01 и его .u02</translation>
    </message>
    <message>
        <source>The folder that gets a record of every unit; empty: no records</source>
        <translation>Папка, куда пишется отчёт о каждом приёмнике; пусто — без отчётов</translation>
    </message>
    <message>
        <source>What starts a socket&apos;s next unit once one has ended</source>
        <translation>Что запускает следующий приёмник на гнезде после окончания загрузки</translation>
    </message>
    <message>
        <source>A scanned or typed unit id goes to the socket that has waited longest for one</source>
        <translation>Отсканированный или введённый номер получает гнездо, которое ждёт дольше всех</translation>
    </message>
    <message>
        <source>Virtual IRDs on pseudo-terminals, to try the station without receivers</source>
        <translation>Виртуальные IRD на псевдотерминалах, чтобы опробовать станцию без приёмников</translation>
    </message>
    <message>
        <source>Choose the sockets to load on: each gets a tile here.</source>
        <translation>Выберите гнёзда для загрузки: у каждого здесь появится своя панель.</translation>
    </message>
    <message>
        <source>Report folder</source>
        <translation>Папка отчётов</translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>(не выбрано)</translation>
    </message>
    <message>
        <source>Cannot start a virtual IRD</source>
        <translation>Не удаётся запустить виртуальный IRD</translation>
    </message>
    <message>
        <source>A virtual IRD on a pseudo-terminal</source>
        <translation>Виртуальный IRD на псевдотерминале</translation>
    </message>
    <message>
        <source>pseudo-terminal</source>
        <translation>псевдотерминал</translation>
    </message>
    <message>
        <source>Choose at least one socket</source>
        <translation>Выберите хотя бы одно гнездо</translation>
    </message>
    <message>
        <source>Choose the upgrade first</source>
        <translation>Сначала выберите прошивку</translation>
    </message>
    <message>
        <source>The station cannot start</source>
        <translation>Станция не может начать работу</translation>
    </message>
    <message>
        <source>station started on %1 sockets</source>
        <translation>станция запущена на гнёздах: %1</translation>
    </message>
    <message>
        <source>stopping every socket</source>
        <translation>остановка всех гнёзд</translation>
    </message>
    <message>
        <source>unit id %1 ignored: the station is not running</source>
        <translation>номер %1 не принят: станция не запущена</translation>
    </message>
    <message>
        <source>station stopped: %1 loaded, %2 failed, %3 stopped</source>
        <translation>станция остановлена: загружено %1, ошибок %2, остановлено %3</translation>
    </message>
    <message>
        <source>%1: halted</source>
        <translation>%1: остановлено из-за ошибки</translation>
    </message>
    <message>
        <source>%1: unit %2 started</source>
        <translation>%1: приёмник %2 начат</translation>
    </message>
    <message>
        <source>%1: unit %2 (%3) started</source>
        <translation>%1: приёмник %2 (%3) начат</translation>
    </message>
    <message>
        <source>Loaded %1 · Failed %2 · Stopped %3</source>
        <translation>Загружено %1 · Ошибок %2 · Остановлено %3</translation>
    </message>
    <message>
        <source>%1 · %2 loading</source>
        <translation>%1 · загружается %2</translation>
    </message>
</context>
</TS>
