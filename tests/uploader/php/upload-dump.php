<?php
// Router for PHP's built-in server: records what PHP's own multipart parser
// made of the request, then answers like the upload service.
$files = [];
foreach ($_FILES as $field => $info) {
    $names = is_array($info['name']) ? $info['name'] : [$info['name']];
    $types = is_array($info['type']) ? $info['type'] : [$info['type']];
    $tmps = is_array($info['tmp_name']) ? $info['tmp_name'] : [$info['tmp_name']];
    $errors = is_array($info['error']) ? $info['error'] : [$info['error']];
    $sizes = is_array($info['size']) ? $info['size'] : [$info['size']];
    foreach ($names as $i => $name) {
        $files[] = [
            'field' => is_array($info['name']) ? $field . '[]' : $field,
            'name' => $name,
            'type' => $types[$i],
            'size' => $sizes[$i],
            'error' => $errors[$i],
            'sha256' => $errors[$i] === 0 ? hash_file('sha256', $tmps[$i]) : null,
        ];
    }
}
file_put_contents(getenv('PELKIN_DUMP'), json_encode(['post' => $_POST, 'files' => $files]));
header('Content-Type: application/json');
echo json_encode(['success' => true, 'url' => 'https://s.example/php', 'file_count' => count($files)]);
